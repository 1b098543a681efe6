// clipvault-scan: the page scans of clipvault-cli ("scan-html", "scan-frames"), which the
// launcher starts in the tool's place. It links Qt's core and the scanner alone, so that a scan
// starts as fast as grep does; any other form of the command line (help, a mistake) goes on to
// the tool, which answers it as it answers every command.

#include "besideself.h"
#include "exitcodes.h"
#include "pagescan.h"

#include <QCoreApplication>
#include <QString>
#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

/// The scan asked for, when the command line is one of the two plain forms:
/// `scan-html|scan-frames --base URL [FILE|-]`, the options anywhere.
struct Scan
{
    bool frames = false;
    QString base;
    QString file = QStringLiteral("-");
};

std::optional<Scan> scanOf(int argc, char* argv[])
{
    if (argc < 2)
        return std::nullopt;
    Scan scan;
    const std::string_view command = argv[1];
    if (command != "scan-html" && command != "scan-frames")
        return std::nullopt;
    scan.frames = command == "scan-frames";
    bool fileGiven = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--base" && i + 1 < argc && scan.base.isEmpty()) {
            scan.base = QString::fromLocal8Bit(argv[++i]);
        } else if ((word == "-" || !word.starts_with('-')) && !fileGiven) {
            scan.file = QString::fromLocal8Bit(argv[i]);
            fileGiven = true;
        } else {
            return std::nullopt;
        }
    }
    if (scan.base.isEmpty())
        return std::nullopt;
    return scan;
}

/// Starts the tool beside this program in its place, with the same arguments.
int execTool(char* argv[])
{
    const std::string tool = cli::BesideSelf("clipvault-tool");
    if (tool.empty()) {
        std::fprintf(stderr, "clipvault-cli: the scanner cannot find its own folder\n");
        return cli::kFailed;
    }
    ::execv(tool.c_str(), argv);
    std::fprintf(stderr, "clipvault-cli: cannot start %s: %s\n", tool.c_str(),
                 std::strerror(errno));
    return cli::kFailed;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::optional<Scan> scan = scanOf(argc, argv);
    if (!scan)
        return execTool(argv);
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = cli::ScanPage(scan->frames, scan->base, scan->file, out, err);
    out.flush();
    err.flush();
    return code;
}
