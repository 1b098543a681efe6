#include "datafolder.h"

#include <cerrno>
#include <csignal>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>

QString ProgramFolder()
{
    const QString own =
        QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).path();
    const QString privateFolder = QStringLiteral("/" CLIPVAULT_PRIVATE_LIBDIR);
    if (!own.endsWith(privateFolder))
        return own;
    return QDir::cleanPath(own + QStringLiteral("/" CLIPVAULT_PRIVATE_TO_BIN));
}

QString ResolveDataFolder(const QString& programFolder)
{
    const QString fromEnvironment = qEnvironmentVariable("CLIPVAULT_HOME");
    if (!fromEnvironment.isEmpty())
        return QDir::cleanPath(QDir(fromEnvironment).absolutePath());

    if (!programFolder.isEmpty()) {
        const QDir program(programFolder);
        for (const char* name : {"clipvault.opt", "downloading.log", "category.log"}) {
            if (QFileInfo::exists(program.filePath(QLatin1String(name))))
                return QDir::cleanPath(program.absolutePath());
        }
    }
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/clipvault"));
}

QString OptionsFilePath(const QString& dataFolder)
{
    return QDir(dataFolder).filePath(QStringLiteral("clipvault.opt"));
}

QString ConfFilePath(const QString& dataFolder)
{
    return QDir(dataFolder).filePath(QStringLiteral("clipvault.conf"));
}

namespace {

constexpr char kCategoryPaneWidthKey[] = "categoryPaneWidth";
constexpr char kGalleryKey[] = "gallery";
constexpr char kItemsPaneHeightKey[] = "itemsPaneHeight";

/// Sets one key of the window's own in clipvault.conf, keeping the others.
void saveWindowSetting(const QString& dataFolder, const char* key, const QVariant& value)
{
    QSettings conf(ConfFilePath(dataFolder), QSettings::IniFormat);
    conf.setValue(QLatin1String(key), value);
}

quint16 portValue(const QSettings& conf, const QString& key)
{
    const uint port = conf.value(key).toUInt();
    return port < 65536 ? static_cast<quint16>(port) : 0;
}

} // namespace

VaultSettings LoadVaultSettings(const QString& dataFolder)
{
    const QSettings conf(ConfFilePath(dataFolder), QSettings::IniFormat);
    VaultSettings settings;
    settings.keepFiles = conf.value(QStringLiteral("keepfiles"), settings.keepFiles).toBool();
    settings.lookInArchive = conf.value(QStringLiteral("archive"), settings.lookInArchive).toBool();
    settings.helpPath = conf.value(QStringLiteral("helppath")).toString();
    settings.archiveUrl = conf.value(QStringLiteral("archiveurl")).toString();
    bool paceSet = false;
    const int pace = conf.value(QStringLiteral("archivepace")).toInt(&paceSet);
    settings.archivePaceMs = paceSet && pace >= 0 ? pace : -1;
    settings.debuggingPort = portValue(conf, QStringLiteral("debuggingPort"));
    settings.firefoxPort = portValue(conf, QStringLiteral("firefoxPort"));
    settings.categoryPaneWidth =
        std::max(0, conf.value(QLatin1String(kCategoryPaneWidthKey), 0).toInt());
    settings.gallery = conf.value(QLatin1String(kGalleryKey), false).toBool();
    settings.itemsPaneHeight =
        std::max(0, conf.value(QLatin1String(kItemsPaneHeightKey), 0).toInt());
    return settings;
}

void SaveCategoryPaneWidth(const QString& dataFolder, int width)
{
    saveWindowSetting(dataFolder, kCategoryPaneWidthKey, width);
}

void SaveItemsPaneHeight(const QString& dataFolder, int height)
{
    saveWindowSetting(dataFolder, kItemsPaneHeightKey, height);
}

void SaveGalleryChoice(const QString& dataFolder, bool gallery)
{
    saveWindowSetting(dataFolder, kGalleryKey, gallery ? 1 : 0);
}

bool SaveVaultSettings(const QString& dataFolder, const VaultSettings& settings, QString* error)
{
    // QSettings writes the whole file anew beside the old one and renames it over it.
    QSettings conf(ConfFilePath(dataFolder), QSettings::IniFormat);
    conf.setValue(QStringLiteral("keepfiles"), settings.keepFiles ? 1 : 0);
    conf.setValue(QStringLiteral("archive"), settings.lookInArchive ? 1 : 0);
    conf.sync();
    if (conf.status() == QSettings::NoError)
        return true;
    if (error)
        *error = QStringLiteral("Cannot create file ") + ConfFilePath(dataFolder);
    return false;
}

bool NoticeIsNew(const QString& dataFolder, const QString& key, const QString& notice)
{
    QSettings conf(ConfFilePath(dataFolder), QSettings::IniFormat);
    if (conf.value(key).toString() == notice)
        return false;
    conf.setValue(key, notice);
    return true;
}

namespace {

/// Whether the process a lock names still runs here as the program it names: a lock left by a
/// process that died (killed, crashed) holds nothing, even before anyone took it over.
bool holderAlive(qint64 pid, const QString& host, const QString& application)
{
    if (host != QSysInfo::machineHostName() || pid <= 0)
        return true; // not ours to judge
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        return false;
    // A number taken over by another program since: its name is not the holder's.
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return true;
    const QString running = QString::fromLocal8Bit(comm.readAll()).trimmed();
    return running.isEmpty() || application.startsWith(running);
}

} // namespace

DataFolderLock::DataFolderLock(const QString& dataFolder)
    : m_lock(QDir(dataFolder).filePath(QStringLiteral("clipvault.lock")))
{
    m_lock.setStaleLockTime(0);
}

bool DataFolderLock::acquire(int waitMs)
{
    return m_lock.tryLock(waitMs);
}

DataFolderLock::Holder DataFolderLock::holder() const
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!m_lock.getLockInfo(&pid, &host, &application) || !holderAlive(pid, host, application))
        return Holder::Nobody;
    // The lock records the holder's executable name (from /proc), not a name it chose.
    return application == QLatin1String(kProgramExecutableName) ? Holder::Program
                                                                : Holder::SomeoneElse;
}
