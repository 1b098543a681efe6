// clipvault-cli: the catalogue and the program's other core services for scripts and tests.
//
// This launcher links no Qt. Scripts start one tool per movie, so a plain download runs here at
// once; every other command, and a download that needs more (a progress line, the web
// archive's copy, an address to encode first), runs in clipvault-tool, which it starts in its
// place.

#include "besideself.h"
#include "exitcodes.h"

#include <dlfcn.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

/// Whether the command is a page scan, which a program of its own runs: one that loads Qt's
/// core alone starts as fast as grep.
bool isPageScan(int argc, char* argv[])
{
    return argc >= 2 &&
           (std::strcmp(argv[1], "scan-html") == 0 || std::strcmp(argv[1], "scan-frames") == 0);
}

/// Starts the tool (or the page scanner) in this process's place, with the arguments as they
/// came and, before them, why the address of a plain download was found gone (when it was).
int execTool(int argc, char* argv[], const std::string& gone)
{
    const std::string path =
        cli::BesideSelf(gone.empty() && isPageScan(argc, argv) ? CLIPVAULT_SCAN : CLIPVAULT_TOOL);
    if (path.empty()) {
        std::fprintf(stderr, "clipvault-cli: the tool cannot find its own folder through "
                             "/proc/self/exe, where clipvault-tool lies\n");
        return cli::kFailed;
    }
    std::vector<char*> arguments{argv[0]};
    if (!gone.empty()) {
        arguments.push_back(const_cast<char*>(cli::kLauncherFoundGone));
        arguments.push_back(const_cast<char*>(gone.c_str()));
    }
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    arguments.push_back(nullptr);
    ::execv(path.c_str(), arguments.data());
    std::fprintf(stderr, "clipvault-cli: cannot start %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return cli::kFailed;
}

/// A plain download, run here by the download module: its exit code, or nothing for the tool
/// to run the command (then `gone` says why its address was found gone, if it was). The module
/// and the web's libraries are loaded only for a command that may be one.
std::optional<int> runPlainDownload(int argc, char* argv[], std::string& gone)
{
    if (argc != 4 || std::strcmp(argv[1], "download") != 0)
        return std::nullopt;
    const std::string path = cli::BesideSelf(CLIPVAULT_DOWNLOAD);
    void* module = path.empty() ? nullptr : ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    using Run = int (*)(int, char*[], char*, std::size_t);
    const auto run =
        module ? reinterpret_cast<Run>(::dlsym(module, "clipvault_plain_download")) : nullptr;
    if (!run)
        return std::nullopt; // the tool downloads it as well, only later
    std::vector<char> said(4096, '\0');
    const int code = run(argc, argv, said.data(), said.size());
    if (code >= 0)
        return code;
    gone = said.data();
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[])
{
    std::setlocale(LC_ALL, ""); // the system's messages in the user's language, as Qt sets it
    std::string gone;
    if (const std::optional<int> code = runPlainDownload(argc, argv, gone))
        return *code;
    return execTool(argc, argv, gone);
}
