#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// The files a movie loads, kept beside it so that it plays whole without its site: a folder
// "<movie file name>.files/" laid out as the sites were, "<host>/<path>" (a port other than the
// scheme's joined to the host with "_"), with "manifest.json" at its top naming each file's
// address, place, size, SHA-256 and when it was kept. Both the movie's relative loads and its
// absolute ones find their file there by address alone.

/// At most this many files and bytes are kept for one movie.
inline constexpr int kMaxKeptFiles = 500;
inline constexpr qint64 kMaxKeptBytes = qint64(512) << 20;

/// One kept file.
struct KeptFile
{
    QString url;  ///< the address it was fetched from
    QString path; ///< its place in the folder, "<host>/<path>"
    qint64 size = 0;
    QByteArray sha256; ///< hex
    QDateTime keptAt;  ///< UTC
};

/// What "manifest.json" says.
struct KeptManifest
{
    QString movieUrl; ///< the movie the files belong to
    QList<KeptFile> files;

    qint64 totalBytes() const;
    const KeptFile* byUrl(const QString& url) const;
    const KeptFile* byPath(const QString& path) const;
    /// Adds the file or replaces the one kept from the same address.
    void put(const KeptFile& file);
};

/// The kept-files folder of a movie file.
QString KeptFolderOf(const QString& moviePath);
/// The manifest's path in a kept-files folder.
QString ManifestPathIn(const QString& folder);

/// The place in the folder for an address: "<host>[_port]/<segment>/…". Nothing for an address
/// that could leave the folder or does not name a file: not http(s), a host with characters no
/// host name has, "." or ".." segments, an encoded slash or backslash, hidden names, or a path
/// ending in "/".
std::optional<QString> KeptPathFor(const QUrl& address);

/// A manifest is at most this large.
inline constexpr qint64 kMaxManifestBytes = qint64(16) << 20;
/// Reads a folder's manifest; an empty manifest when there is none or it cannot be read.
KeptManifest ReadManifest(const QString& folder);
/// A manifest's text read; an empty manifest when it is none.
KeptManifest ManifestFromJson(const QByteArray& json);
/// Writes the manifest atomically.
bool WriteManifest(const QString& folder, const KeptManifest& manifest, QString* error = nullptr);

/// The folder a movie file is played from: the top of the kept layout it lies in (a
/// "capture --into" folder or a "<movie>.files" folder holds "manifest.json" at its top), else
/// its own kept-files folder beside it. Empty when neither holds a manifest.
QString KeptRootFor(const QString& moviePath);

/// Whether each folder of `relativeFolder` below `root` is a real folder, or not there yet: a
/// link planted in a layout (a host folder, a subfolder) must never lead a write out of it. The
/// root itself is the user's choice and may be reached through links.
bool HasNoLinkBelow(const QString& root, const QString& relativeFolder);

/// Whether the server may fetch `address` for a movie from `movieAddress`: from the movie's
/// own host always; from any other only when its host is no loopback, private or link-local
/// address (the web must not reach into the user's own network through a movie).
bool MayFetchFor(const QUrl& address, const QUrl& movieAddress);

/// Hex SHA-256 of a file's bytes; empty when it cannot be read.
QByteArray FileSha256(const QString& path);
