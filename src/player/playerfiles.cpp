#include "playerfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString shareFolder()
{
    const QString fromEnvironment = qEnvironmentVariable("CLIPVAULT_SHARE_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QDir program(QCoreApplication::applicationDirPath());
    for (const QString& candidate : {program.filePath(QStringLiteral("../share/clipvault")),
                                     QStringLiteral(CLIPVAULT_BUILD_SHARE_DIR)}) {
        if (QFileInfo::exists(candidate + QStringLiteral("/ruffle/ruffle.js")))
            return QDir::cleanPath(candidate);
    }
    return QDir::cleanPath(program.filePath(QStringLiteral("../share/clipvault")));
}

} // namespace

namespace PlayerFiles {

QString ruffleFolder()
{
    return shareFolder() + QStringLiteral("/ruffle");
}

QString noneMovie()
{
    return shareFolder() + QStringLiteral("/none.swf");
}

} // namespace PlayerFiles
