#include "firefoxport.h"

#include "devtools/debuggingport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

quint16 validPort(uint port)
{
    return port > 0 && port < 65536 ? static_cast<quint16>(port) : 0;
}

/// The value of an option given as "--name VALUE", "-name VALUE" or "--name=VALUE".
QString optionValue(const QStringList& arguments, const QString& name)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == u"--" + name || argument == u'-' + name)
            return arguments.value(i + 1);
        if (argument.startsWith(u"--" + name + u'='))
            return argument.section(u'=', 1);
    }
    return {};
}

} // namespace

QString FirefoxDefaultProfile(const QString& firefoxFolder)
{
    // Read without blocking, bounded: a FIFO or a huge file of that name must not hold the
    // window thread.
    const IniText profiles =
        IniText::read(QDir(firefoxFolder).filePath(QStringLiteral("profiles.ini")));
    const QStringList& groups = profiles.groups;
    const auto folderOf = [&](const QString& path, bool relative) {
        return relative ? QDir(firefoxFolder).filePath(path) : path;
    };
    // The installation's default first, as Firefox itself picks it.
    for (const QString& group : groups) {
        if (group.startsWith(QStringLiteral("Install"))) {
            const QString path = profiles.value(group + QStringLiteral("/Default"));
            if (!path.isEmpty())
                return folderOf(path, !QDir::isAbsolutePath(path));
        }
    }
    QString first;
    for (const QString& group : groups) {
        if (!group.startsWith(QStringLiteral("Profile")))
            continue;
        const QString path = folderOf(
            profiles.value(group + QStringLiteral("/Path")),
            profiles.value(group + QStringLiteral("/IsRelative"), QStringLiteral("1")).toInt() ==
                1);
        if (profiles.value(group + QStringLiteral("/Default")).toInt() == 1)
            return path;
        if (first.isEmpty())
            first = path;
    }
    return first;
}

quint16 FirefoxPortFromCommandLine(const QStringList& arguments, const QString& firefoxFolder)
{
    if (const quint16 port =
            validPort(optionValue(arguments, QStringLiteral("remote-debugging-port")).toUInt()))
        return port;
    QString profile = optionValue(arguments, QStringLiteral("profile"));
    if (profile.isEmpty())
        profile = FirefoxDefaultProfile(firefoxFolder);
    if (profile.isEmpty())
        return 0;
    // With port 0 Firefox takes one and writes it here.
    const QByteArray text =
        ReadSmallRegularFile(QDir(profile).filePath(QStringLiteral("WebDriverBiDiServer.json")));
    return validPort(
        QJsonDocument::fromJson(text).object().value(QStringLiteral("ws_port")).toInt());
}

quint16 FirefoxPortOfProcess(qint64 pid)
{
    const QStringList arguments = CommandLineOfProcess(pid);
    if (arguments.isEmpty())
        return 0;
    return FirefoxPortFromCommandLine(arguments,
                                      QDir::home().filePath(QStringLiteral(".mozilla/firefox")));
}
