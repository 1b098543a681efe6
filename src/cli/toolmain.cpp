// clipvault-tool: every command of clipvault-cli but the plain download, which the launcher
// runs itself and, for everything else, starts this program in its place. An ordinary Qt
// program: gdb, ldd and valgrind take it as it is.

#include "clicommands.h"
#include "partialfiles.h"
#include "plaindownload.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The program's name, which its settings and folders are found by.
    QCoreApplication::setApplicationName(QStringLiteral("clipvault"));
    // Ctrl-C or the end of the session during a download leaves no partial file behind.
    transfer::RemovePartialFilesOnTermination();
    QStringList arguments = QCoreApplication::arguments().mid(1);
    // What the launcher learned already leads the arguments: that address is not asked again.
    QString gone;
    if (arguments.size() >= 2 && arguments[0] == QLatin1String(cli::kLauncherFoundGone)) {
        gone = arguments[1];
        arguments.remove(0, 2);
    }
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = RunCli(arguments, out, err, gone);
    out.flush();
    err.flush();
    return code;
}
