#include "xdgdesktopopen.h"

#include <QDesktopServices>
#include <QUrl>

bool XdgDesktopOpen::open(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
