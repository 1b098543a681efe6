#include "commandline.h"
#include "commands.h"

#include <QTextStream>

// A build without the desktop layer (the sanitizer build of the core) has no browser access.
int cli::RunBrowser(const CommandLine&, QTextStream&, QTextStream& err)
{
    err << "clipvault-cli: this build has no browser access (built without the desktop layer)"
        << Qt::endl;
    return 1;
}
