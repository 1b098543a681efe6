// browser connect: lets the user's browser start the companion's host, by writing the host
// manifests where each browser looks for them, and records the data folder the host serves.

#include "atomicwrite.h"
#include "commandline.h"
#include "commands.h"
#include "exitcodes.h"
#include "nativemessaging.h"

#include <algorithm>
#include <iterator>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace cli {

namespace {

/// A kind of browser and where its host manifests go.
struct BrowserKindPlace
{
    const char* name;
    const char* userFolder; ///< below the home folder
    bool chromiumFamily;
};

constexpr BrowserKindPlace kBrowsers[] = {
    {"chromium", ".config/chromium/NativeMessagingHosts", true},
    {"chrome", ".config/google-chrome/NativeMessagingHosts", true},
    {"firefox", ".mozilla/native-messaging-hosts", false},
};

/// The tool's own folder, where the host is installed beside it.
QString toolFolder()
{
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).path();
}

QByteArray hostManifest(const QString& hostPath, bool chromiumFamily)
{
    QJsonObject manifest{
        {QStringLiteral("name"), QLatin1String(nativemessaging::kHostName)},
        {QStringLiteral("description"), QStringLiteral("Clip Vault's browser companion")},
        {QStringLiteral("path"), hostPath},
        {QStringLiteral("type"), QStringLiteral("stdio")}};
    if (chromiumFamily)
        manifest.insert(QStringLiteral("allowed_origins"),
                        QJsonArray{QStringLiteral("chrome-extension://%1/")
                                       .arg(QLatin1String(nativemessaging::kChromiumExtensionId))});
    else
        manifest.insert(QStringLiteral("allowed_extensions"),
                        QJsonArray{QLatin1String(nativemessaging::kFirefoxExtensionId)});
    return QJsonDocument(manifest).toJson();
}

} // namespace

int RunBrowserConnect(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 2)
        return UsageError(line, err);
    const bool every = line.browser == u"auto";
    const auto known = [&](const BrowserKindPlace& kind) {
        return every || line.browser == QLatin1String(kind.name);
    };
    if (std::none_of(std::begin(kBrowsers), std::end(kBrowsers), known))
        return UsageError(line, err,
                          QStringLiteral("--browser takes chromium, chrome or firefox, not %1")
                              .arg(line.browser));
    if (!line.profile.isEmpty() && (every || line.browser == u"firefox"))
        return UsageError(line, err,
                          QStringLiteral("--profile goes with --browser chromium or chrome"));

    const QString host = QDir(toolFolder()).filePath(QStringLiteral("clipvault-browser-host"));
    if (!QFileInfo(host).isExecutable()) {
        err << "clipvault-cli: the companion's host is not installed beside the tool (" << host
            << ")" << Qt::endl;
        return kFailed;
    }
    const QString dataFolder = QDir(DataFolderOf(line)).absolutePath();
    QString error;
    const QByteArray record = "[General]\ndatafolder=" + dataFolder.toUtf8() + '\n';
    if (!WriteFileAtomically(nativemessaging::HostRecordPath(), {record}, &error)) {
        err << "clipvault-cli: " << error << Qt::endl;
        return kFailed;
    }
    const QString manifestName = QLatin1String(nativemessaging::kHostName) + u".json";
    for (const BrowserKindPlace& kind : kBrowsers) {
        if (!known(kind))
            continue;
        const QString folder = line.profile.isEmpty()
                                   ? QDir::home().filePath(QLatin1String(kind.userFolder))
                                   : QDir(QDir(line.profile).absolutePath())
                                         .filePath(QStringLiteral("NativeMessagingHosts"));
        const QString manifest = QDir(folder).filePath(manifestName);
        if (!WriteFileAtomically(manifest, {hostManifest(host, kind.chromiumFamily)}, &error)) {
            err << "clipvault-cli: " << error << Qt::endl;
            return kFailed;
        }
        out << kind.name << ": " << manifest << '\n';
    }
    out << "the host serves the data folder " << dataFolder << '\n';
    const QString extension =
        QDir::cleanPath(toolFolder() + u"/../share/clipvault/browser-extension");
    if (QFileInfo::exists(extension))
        out << "the extension to load: " << extension << '\n';
    return kOk;
}

} // namespace cli
