#include "xdgdesktopopen.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

bool XdgDesktopOpen::open(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool XdgDesktopOpen::startDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}
