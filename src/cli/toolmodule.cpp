// The tool's commands, loaded by clipvault-cli for every command it does not run itself.

#include "clicommands.h"
#include "toolapplication.h"

#include <QTextStream>

extern "C" __attribute__((visibility("default"))) int clipvault_tool_main(int argc, char* argv[])
{
    cli::ToolApplication application(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = RunCli(application.arguments(), out, err);
    out.flush();
    err.flush();
    return code;
}
