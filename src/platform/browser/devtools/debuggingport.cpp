#include "debuggingport.h"

#include "regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

/// The everyday profile folder of the browser a command line starts, by its program's name.
QString defaultUserDataDir(const QString& program)
{
    const QString name = QFileInfo(program).fileName().toLower();
    const QString config = QDir::home().filePath(QStringLiteral(".config/"));
    if (name.contains(QStringLiteral("brave")))
        return config + QStringLiteral("BraveSoftware/Brave-Browser");
    if (name.contains(QStringLiteral("edge")))
        return config + QStringLiteral("microsoft-edge");
    if (name.contains(QStringLiteral("chrome")))
        return config + QStringLiteral("google-chrome");
    return config + QStringLiteral("chromium");
}

} // namespace

DebuggingEndpoint DebuggingEndpointFromCommandLine(const QStringList& arguments)
{
    QString userDataDir;
    for (const QString& argument : arguments) {
        if (argument.startsWith(QStringLiteral("--remote-debugging-port="))) {
            const uint port = argument.section(u'=', 1).toUInt();
            if (port > 0 && port < 65536)
                return {static_cast<quint16>(port), {}};
        } else if (argument.startsWith(QStringLiteral("--user-data-dir="))) {
            userDataDir = argument.section(u'=', 1);
        }
    }
    // With port 0 the browser picks one and writes it, with its browser endpoint's path, to
    // this file; so does a browser whose user allowed remote debugging on the everyday profile
    // (chrome://inspect), which then answers no /json/ discovery.
    if (userDataDir.isEmpty())
        userDataDir = defaultUserDataDir(arguments.value(0));
    const QByteArray text =
        ReadSmallRegularFile(QDir(userDataDir).filePath(QStringLiteral("DevToolsActivePort")));
    const QList<QByteArray> lines = text.split('\n');
    const uint port = lines.value(0).trimmed().toUInt();
    if (port == 0 || port >= 65536)
        return {};
    const QString path = QString::fromLatin1(lines.value(1).trimmed());
    return {static_cast<quint16>(port),
            path.startsWith(QStringLiteral("/devtools/browser/")) ? path : QString()};
}

quint16 DebuggingPortFromCommandLine(const QStringList& arguments)
{
    return DebuggingEndpointFromCommandLine(arguments).port;
}

QStringList CommandLineOfProcess(qint64 pid)
{
    QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (pid <= 0 || !commandLine.open(QIODevice::ReadOnly))
        return {};
    QStringList arguments;
    for (const QByteArray& part : commandLine.readAll().split('\0'))
        arguments << QString::fromLocal8Bit(part);
    return arguments;
}

DebuggingEndpoint DebuggingEndpointOfProcess(qint64 pid)
{
    return DebuggingEndpointFromCommandLine(CommandLineOfProcess(pid));
}

quint16 DebuggingPortOfProcess(qint64 pid)
{
    return DebuggingEndpointOfProcess(pid).port;
}
