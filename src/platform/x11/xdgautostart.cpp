#include "xdgautostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// Exec= values quote arguments that hold blanks or reserved characters, as desktop entries require.
QString quotedExec(const QString& path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (QChar c : path)
        needsQuotes = needsQuotes || reserved.contains(c);
    if (!needsQuotes)
        return path;
    QString escaped;
    for (QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            escaped += u'\\';
        escaped += c;
    }
    // In a desktop file a backslash itself is escaped once more.
    escaped.replace(u'\\', QStringLiteral("\\\\"));
    return u'"' + escaped + u'"';
}

} // namespace

QString XdgAutostart::entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/clipvault.desktop");
}

bool XdgAutostart::setEnabled(bool on, const QString& programPath)
{
    const QString path = entryPath();
    if (!on)
        return !QFile::exists(path) || QFile::remove(path);

    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Clip Vault\n"
                                         "Comment=Collect and play Flash movies\n"
                                         "Exec=%1\n"
                                         "Icon=" CLIPVAULT_APP_ID "\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quotedExec(programPath));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(entry.toUtf8());
    return file.commit();
}

bool XdgAutostart::isEnabled() const
{
    return QFile::exists(entryPath());
}
