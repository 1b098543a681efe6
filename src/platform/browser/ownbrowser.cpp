#include "ownbrowser.h"

#include "bidi/firefoxport.h"
#include "datafolder.h"
#include "devtools/debuggingport.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <limits>

namespace {

/// Whether the process a profile's lock names still runs. Chromium's SingletonLock links to
/// "host-pid", Firefox's lock to "address:+pid"; a browser that ended without tidying up leaves
/// the link, and the port file, behind.
bool lockIsHeld(const QString& lock)
{
    const QString target = QFileInfo(lock).symLinkTarget();
    if (target.isEmpty())
        return false;
    const qsizetype cut = std::max(target.lastIndexOf(u'-'), target.lastIndexOf(u'+'));
    bool number = false;
    const qint64 pid = target.mid(cut + 1).toLongLong(&number);
    if (!number || pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

struct Started
{
    BrowserEndpoint browser;
    QDateTime when; ///< when it wrote its port
};

Started chromiumIn(const QString& profile)
{
    if (!lockIsHeld(QDir(profile).filePath(QStringLiteral("SingletonLock"))))
        return {};
    const DebuggingEndpoint found = DebuggingEndpointFromCommandLine(
        {QStringLiteral("chromium"), QStringLiteral("--user-data-dir=") + profile});
    return {{found.port, BrowserKind::Chromium, found.browserPath},
            QFileInfo(QDir(profile).filePath(QStringLiteral("DevToolsActivePort"))).lastModified()};
}

Started firefoxIn(const QString& profile)
{
    if (!lockIsHeld(QDir(profile).filePath(QStringLiteral("lock"))))
        return {};
    const quint16 port = FirefoxPortFromCommandLine(
        {QStringLiteral("firefox"), QStringLiteral("--profile"), profile}, {});
    return {{port, BrowserKind::Firefox},
            QFileInfo(QDir(profile).filePath(QStringLiteral("WebDriverBiDiServer.json")))
                .lastModified()};
}

} // namespace

BrowserEndpoint OwnBrowserEndpoint(const QString& dataFolder)
{
    const QDir folder(dataFolder);
    const Started chromium = chromiumIn(folder.filePath(QLatin1String(kChromiumProfileFolder)));
    const Started firefox = firefoxIn(folder.filePath(QLatin1String(kFirefoxProfileFolder)));
    if (!firefox.browser.isKnown())
        return chromium.browser;
    if (!chromium.browser.isKnown())
        return firefox.browser;
    return firefox.when > chromium.when ? firefox.browser : chromium.browser;
}
