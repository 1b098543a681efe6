#include "browsercommands.h"
#include "commandline.h"
#include "commands.h"

#include <QTextStream>

// A build without the desktop layer (the sanitizer build of the core) has no browser access.
int RunBrowserCommand(const QStringList&, bool, quint16, QTextStream&, QTextStream& err)
{
    err << "clipvault-cli: this build has no browser access (built without the desktop layer)"
        << Qt::endl;
    return 1;
}

int cli::RunBrowser(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    return RunBrowserCommand(line.words, line.json, 0, out, err);
}
