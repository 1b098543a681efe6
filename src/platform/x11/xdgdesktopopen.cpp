#include "xdgdesktopopen.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

bool XdgDesktopOpen::open(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString XdgDesktopOpen::defaultApplication(const QString& mimeType)
{
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), mimeType});
    // A desktop without xdg-utils, or one that hangs, has no answer.
    if (!query.waitForFinished(3000)) {
        query.kill();
        query.waitForFinished();
        return {};
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return {};
    return QString::fromUtf8(query.readAllStandardOutput()).trimmed();
}

bool XdgDesktopOpen::startDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}
