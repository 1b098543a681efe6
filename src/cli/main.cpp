// clipvault-cli: the catalogue and the program's other core services for scripts and tests.

#include "clicommands.h"

#include <cstdio>

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("clipvault"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = RunCli(QCoreApplication::arguments().mid(1), out, err);
    out.flush();
    err.flush();
    return code;
}
