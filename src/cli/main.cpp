// clipvault-cli: the catalogue and the program's other core services for scripts and tests.

#include "clicommands.h"

#include <cstdio>

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    // Qt's own event loop: the tool shares its loop with no GLib code, and GLib's would only
    // add to every command's start and memory. The programs it starts choose their own.
    const bool chooseLoop = qEnvironmentVariableIsEmpty("QT_NO_GLIB");
    if (chooseLoop)
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    if (chooseLoop)
        qunsetenv("QT_NO_GLIB");
    QCoreApplication::setApplicationName(QStringLiteral("clipvault"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = RunCli(QCoreApplication::arguments().mid(1), out, err);
    out.flush();
    err.flush();
    return code;
}
