#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The pictures of the movies, kept by the movie's SHA-256 in the user's cache folder, so that a
// movie filed twice or moved is drawn once: "<sha256>.png" (256 px on its long side), or, for a
// movie that could not be drawn, "<sha256>.failed" holding the reason. A movie whose file changes
// has another SHA-256, and is drawn again.

/// A picture is this large on its long side.
inline constexpr int kPictureSize = 256;

/// "$XDG_CACHE_HOME/clipvault/pictures" ($HOME/.cache when the variable names no folder).
QString PicturesFolder();

/// The picture of the content `sha256` (hex), drawn or not.
QString PicturePath(const QByteArray& sha256);
/// The placeholder of a content that could not be drawn.
QString PlaceholderPath(const QByteArray& sha256);

/// What the cache holds for a content.
struct PictureEntry
{
    enum class Kind
    {
        None,    ///< not drawn yet
        Picture, ///< PicturePath holds it
        Failed,  ///< could not be drawn; `reason` says why
    } kind = Kind::None;
    QString reason;
};
PictureEntry LookUpPicture(const QByteArray& sha256);

/// The PNG of the content's picture; empty when none was drawn.
QByteArray CachedPicture(const QByteArray& sha256);

/// Keeps the reason a content could not be drawn; false when it cannot be written.
bool StorePictureFailure(const QByteArray& sha256, const QString& reason);

/// Whether `sha256` is a hex SHA-256, and so a name safe to put in the folder.
bool IsSha256Hex(const QByteArray& sha256);
