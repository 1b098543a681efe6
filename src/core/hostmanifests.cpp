#include "hostmanifests.h"

#include "atomicwrite.h"
#include "datafolder.h"
#include "nativemessaging.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

/// A kind of browser and where it looks for host manifests below the home folder.
struct BrowserPlace
{
    const char* name;
    const char* userFolder;
    bool chromiumFamily;
};

constexpr BrowserPlace kPlaces[] = {
    {"chromium", ".config/chromium/NativeMessagingHosts", true},
    {"chrome", ".config/google-chrome/NativeMessagingHosts", true},
    {"firefox", ".mozilla/native-messaging-hosts", false},
};

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

QByteArray HostManifestText(const QString& browser, const QString& hostPath)
{
    return hostManifest(hostPath, browser != u"firefox");
}

QStringList HostManifestBrowsers()
{
    QStringList names;
    for (const BrowserPlace& place : kPlaces)
        names << QLatin1String(place.name);
    return names;
}

std::optional<QList<HostManifestPlace>>
WriteHostManifests(const QStringList& browsers, const QString& profile, const QString& hostPath,
                   const QString& dataFolder, QString* error)
{
    const QByteArray record = "[General]\ndatafolder=" + dataFolder.toUtf8() + '\n';
    if (!WriteFileAtomically(nativemessaging::HostRecordPath(), {record}, error))
        return std::nullopt;
    const QString name = QLatin1String(nativemessaging::kHostName) + u".json";
    QList<HostManifestPlace> written;
    for (const BrowserPlace& place : kPlaces) {
        if (!browsers.isEmpty() && !browsers.contains(QLatin1String(place.name)))
            continue;
        const QString folder = profile.isEmpty()
                                   ? QDir::home().filePath(QLatin1String(place.userFolder))
                                   : QDir(QDir(profile).absolutePath())
                                         .filePath(QStringLiteral("NativeMessagingHosts"));
        const QString path = QDir(folder).filePath(name);
        if (!WriteFileAtomically(path, {hostManifest(hostPath, place.chromiumFamily)}, error))
            return std::nullopt;
        written.append({QLatin1String(place.name), path});
    }
    return written;
}

QString InstalledHostPath()
{
    return QDir(ProgramFolder()).filePath(QStringLiteral("clipvault-browser-host"));
}

QString InstalledExtensionFolder()
{
    const QString folder =
        QDir::cleanPath(ProgramFolder() + u"/../share/clipvault/browser-extension");
    return QFileInfo::exists(QDir(folder).filePath(QStringLiteral("manifest.json"))) ? folder
                                                                                     : QString();
}
