#include "commandline.h"
#include "commands.h"

#include <dlfcn.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

// The browser commands' own code, linked into a test program; the tool itself has none and
// loads its module.
extern "C" __attribute__((weak)) int clipvault_browser_command(const cli::CommandLine& line,
                                                               QTextStream& out, QTextStream& err);

namespace {

using BrowserCommand = int (*)(const cli::CommandLine&, QTextStream&, QTextStream&);

/// The module beside the tool, where the build tree and the installed package both put it.
QString modulePath()
{
    // Through /proc alone: Qt would otherwise guess from the working folder.
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    if (!QDir::isAbsolutePath(self))
        return {};
    return QFileInfo(self).path() + u'/' + QLatin1String(CLIPVAULT_BROWSER_MODULE);
}

} // namespace

int cli::RunBrowser(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (clipvault_browser_command)
        return clipvault_browser_command(line, out, err);
    const QString path = modulePath();
    if (path.isEmpty()) {
        err << "clipvault-cli: the tool cannot find its own folder through /proc/self/exe, where "
               "the browser access module lies"
            << Qt::endl;
        return 1;
    }
    // The module stays loaded until the tool ends: its objects may outlive the command.
    void* module = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    const auto command =
        module ? reinterpret_cast<BrowserCommand>(::dlsym(module, "clipvault_browser_command"))
               : nullptr;
    if (!command) {
        err << "clipvault-cli: the browser access module cannot be loaded: "
            << QString::fromLocal8Bit(::dlerror()) << Qt::endl;
        return 1;
    }
    return command(line, out, err);
}
