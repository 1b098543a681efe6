// The tool's commands, loaded by clipvault-cli for every command it does not run itself.

#include "clicommands.h"
#include "partialfiles.h"

#include <QCoreApplication>
#include <QTextStream>

extern "C" __attribute__((visibility("default"))) int clipvault_tool_main(int argc, char* argv[],
                                                                          const char* gone)
{
    // Qt's own event loop: the tool shares its loop with no GLib code, and GLib's would only
    // add to every command's start and memory. The programs it starts choose their own.
    const bool chooseLoop = qEnvironmentVariableIsEmpty("QT_NO_GLIB");
    if (chooseLoop)
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    if (chooseLoop)
        qunsetenv("QT_NO_GLIB");
    // The program's name, which its settings and folders are found by.
    QCoreApplication::setApplicationName(QStringLiteral("clipvault"));
    // This module has the transfers' list of partial files of its own: its handler replaces the
    // launcher's.
    transfer::RemovePartialFilesOnTermination();
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = RunCli(QCoreApplication::arguments().mid(1), out, err,
                            gone ? QString::fromLocal8Bit(gone) : QString());
    out.flush();
    err.flush();
    return code;
}
