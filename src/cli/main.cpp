// clipvault-cli: the catalogue and the program's other core services for scripts and tests.

#include "clicommands.h"
#include "toolapplication.h"

#include <QTextStream>

int main(int argc, char* argv[])
{
    cli::ToolApplication application(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = RunCli(application.arguments(), out, err);
    out.flush();
    err.flush();
    return code;
}
