// browser connect: lets the user's browser start the companion's host, by writing the host
// manifests where each browser looks for them, and records the data folder the host serves.

#include "commandline.h"
#include "commands.h"
#include "exitcodes.h"
#include "hostmanifests.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace cli {

int RunBrowserConnect(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 2)
        return UsageError(line, err);
    const bool every = line.browser == u"auto";
    if (!every && !HostManifestBrowsers().contains(line.browser))
        return UsageError(line, err,
                          QStringLiteral("--browser takes chromium, chrome or firefox, not %1")
                              .arg(line.browser));
    if (!line.profile.isEmpty() && (every || line.browser == u"firefox"))
        return UsageError(line, err,
                          QStringLiteral("--profile goes with --browser chromium or chrome"));

    const QString host = InstalledHostPath();
    if (!QFileInfo(host).isExecutable()) {
        err << "clipvault-cli: the companion's host is not installed beside the tool (" << host
            << ")" << Qt::endl;
        return kFailed;
    }
    const QString dataFolder = QDir(DataFolderOf(line)).absolutePath();
    QString error;
    const auto written = WriteHostManifests(every ? QStringList() : QStringList{line.browser},
                                            line.profile, host, dataFolder, &error);
    if (!written) {
        err << "clipvault-cli: " << error << Qt::endl;
        return kFailed;
    }
    for (const HostManifestPlace& place : *written)
        out << place.browser << ": " << place.path << '\n';
    out << "the host serves the data folder " << dataFolder << '\n';
    if (const QString extension = InstalledExtensionFolder(); !extension.isEmpty())
        out << "the extension to load: " << extension << '\n';
    return kOk;
}

} // namespace cli
