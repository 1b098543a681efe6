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
    // bin/ and share/ stand side by side in the build tree, an install prefix and the package.
    const QDir program(QCoreApplication::applicationDirPath());
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
