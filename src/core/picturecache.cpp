#include "picturecache.h"

#include "atomicwrite.h"
#include "filetransfer.h"
#include "regularfile.h"

#include <QDir>
#include <QFileInfo>

namespace {

/// A reason is a line or two.
constexpr qint64 kMaxReasonBytes = 4096;
/// A picture of 256 px is far smaller; anything larger is no picture of ours.
constexpr qint64 kMaxPictureBytes = 4 << 20;

} // namespace

QString PicturesFolder()
{
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return QDir(cache).filePath(QStringLiteral("clipvault/pictures"));
}

QString PicturePath(const QByteArray& sha256)
{
    return QDir(PicturesFolder()).filePath(QString::fromLatin1(sha256) + QStringLiteral(".png"));
}

QString PlaceholderPath(const QByteArray& sha256)
{
    return QDir(PicturesFolder()).filePath(QString::fromLatin1(sha256) + QStringLiteral(".failed"));
}

PictureEntry LookUpPicture(const QByteArray& sha256)
{
    if (!IsSha256Hex(sha256))
        return {};
    if (QFileInfo(PicturePath(sha256)).isFile())
        return {PictureEntry::Kind::Picture, {}};
    if (QFileInfo(PlaceholderPath(sha256)).isFile())
        return {PictureEntry::Kind::Failed,
                QString::fromUtf8(ReadSmallRegularFile(PlaceholderPath(sha256), kMaxReasonBytes))};
    return {};
}

QByteArray CachedPicture(const QByteArray& sha256)
{
    if (!IsSha256Hex(sha256))
        return {};
    return ReadRegularFile(PicturePath(sha256), kMaxPictureBytes).value_or(QByteArray());
}

bool StorePictureFailure(const QByteArray& sha256, const QString& reason)
{
    return IsSha256Hex(sha256) && QDir().mkpath(PicturesFolder()) &&
           ReplaceFileWith(PlaceholderPath(sha256), reason.toUtf8());
}

bool IsSha256Hex(const QByteArray& sha256)
{
    return sha256.size() == 64 && std::all_of(sha256.cbegin(), sha256.cend(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}
