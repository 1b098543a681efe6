#include "keptfiles.h"

#include "addresspolicy.h"
#include "atomicwrite.h"
#include "filetransfer.h"
#include "sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr char kFormat[] = "clipvault-kept-files-1";

bool isHostName(const QString& host)
{
    if (host.isEmpty() || host.size() > 253 || host.startsWith(u'.') || host.startsWith(u'-'))
        return false;
    return std::all_of(host.cbegin(), host.cend(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' ||
               c == u'_';
    });
}

/// Whether an address names this machine or a private network (literally, or "localhost").
bool isInward(const QString& host)
{
    if (host == u"localhost" || host.endsWith(QStringLiteral(".localhost")))
        return true;
    const QString literal = host.startsWith(u'[') ? host.mid(1).chopped(1) : host;
    return transfer::IsInwardAddress(literal.toStdString());
}

} // namespace

qint64 KeptManifest::totalBytes() const
{
    qint64 total = 0;
    for (const KeptFile& file : files)
        total += file.size;
    return total;
}

const KeptFile* KeptManifest::byUrl(const QString& url) const
{
    for (const KeptFile& file : files) {
        if (file.url == url)
            return &file;
    }
    return nullptr;
}

const KeptFile* KeptManifest::byPath(const QString& path) const
{
    for (const KeptFile& file : files) {
        if (file.path == path)
            return &file;
    }
    return nullptr;
}

void KeptManifest::put(const KeptFile& file)
{
    for (KeptFile& kept : files) {
        if (kept.url == file.url) {
            kept = file;
            return;
        }
    }
    files.append(file);
}

QString KeptFolderOf(const QString& moviePath)
{
    return moviePath + QStringLiteral(".files");
}

QString ManifestPathIn(const QString& folder)
{
    return QDir(folder).filePath(QStringLiteral("manifest.json"));
}

std::optional<QString> KeptPathFor(const QUrl& address)
{
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || (scheme != u"http" && scheme != u"https"))
        return std::nullopt;
    const QString host = address.host(QUrl::FullyEncoded).toLower();
    // The manifest and its temporary copies live at the top, beside the host folders.
    if (!isHostName(host) || host.startsWith(QStringLiteral("manifest.json")))
        return std::nullopt;
    QString place = host;
    const int port = address.port();
    if (port > 0 && port != (scheme == u"https" ? 443 : 80))
        place += u'_' + QString::number(port);
    // Segments are split before they are decoded: an encoded slash never makes a folder.
    const QStringList segments =
        address.path(QUrl::FullyEncoded).split(u'/', Qt::KeepEmptyParts).mid(1);
    if (segments.isEmpty() || segments.last().isEmpty())
        return std::nullopt;
    for (const QString& encoded : segments) {
        const QString segment = QUrl::fromPercentEncoding(encoded.toUtf8());
        if (segment.isEmpty() || segment.startsWith(u'.') || segment.contains(u'/') ||
            segment.contains(u'\\') || segment.contains(QChar(0)) || segment.size() > 255)
            return std::nullopt;
        place += u'/' + segment;
    }
    return place;
}

KeptManifest ReadManifest(const QString& folder)
{
    QFile file(ManifestPathIn(folder));
    if (!QFileInfo(file).isFile() || file.size() > kMaxManifestBytes ||
        !file.open(QIODevice::ReadOnly))
        return {};
    return ManifestFromJson(file.readAll());
}

KeptManifest ManifestFromJson(const QByteArray& json)
{
    KeptManifest manifest;
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    if (root.value(QStringLiteral("format")).toString() != QLatin1String(kFormat))
        return manifest;
    manifest.movieUrl = root.value(QStringLiteral("movie")).toString();
    const QJsonArray files = root.value(QStringLiteral("files")).toArray();
    for (const QJsonValue& value : files) {
        const QJsonObject entry = value.toObject();
        KeptFile kept;
        kept.url = entry.value(QStringLiteral("url")).toString();
        kept.path = entry.value(QStringLiteral("path")).toString();
        kept.size = entry.value(QStringLiteral("size")).toInteger();
        kept.sha256 = entry.value(QStringLiteral("sha256")).toString().toLatin1();
        kept.keptAt =
            QDateTime::fromString(entry.value(QStringLiteral("kept")).toString(), Qt::ISODate);
        // A manifest edited by hand must not point outside its folder.
        const std::optional<QString> expected = KeptPathFor(QUrl(kept.url));
        if (expected && *expected == kept.path)
            manifest.files.append(kept);
    }
    return manifest;
}

bool WriteManifest(const QString& folder, const KeptManifest& manifest, QString* error)
{
    QJsonArray files;
    for (const KeptFile& kept : manifest.files)
        files.append(QJsonObject{{QStringLiteral("url"), kept.url},
                                 {QStringLiteral("path"), kept.path},
                                 {QStringLiteral("size"), kept.size},
                                 {QStringLiteral("sha256"), QString::fromLatin1(kept.sha256)},
                                 {QStringLiteral("kept"), kept.keptAt.toString(Qt::ISODate)}});
    const QJsonObject root{{QStringLiteral("format"), QLatin1String(kFormat)},
                           {QStringLiteral("movie"), manifest.movieUrl},
                           {QStringLiteral("files"), files}};
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = CannotCreateFileMessage(folder);
        return false;
    }
    // Replaced, never written through a link planted in its place.
    if (!ReplaceFileWith(ManifestPathIn(folder),
                         QJsonDocument(root).toJson(QJsonDocument::Indented))) {
        if (error)
            *error = CannotCreateFileMessage(ManifestPathIn(folder));
        return false;
    }
    return true;
}

bool HasNoLinkBelow(const QString& root, const QString& relativeFolder)
{
    QString path = root;
    const QStringList parts = relativeFolder.split(u'/', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part == u".")
            continue;
        path += u'/' + part;
        const QFileInfo level(path);
        if (level.isSymLink() || (level.exists() && !level.isDir()))
            return false;
    }
    return true;
}

QString KeptRootFor(const QString& moviePath)
{
    const QFileInfo movie(moviePath);
    // A movie inside a layout: the nearest folder above it with a manifest, a few levels up.
    QDir dir = movie.absoluteDir();
    for (int level = 0; level < 12; ++level) {
        if (!ReadManifest(dir.path()).movieUrl.isEmpty())
            return dir.canonicalPath();
        if (!dir.cdUp())
            break;
    }
    const QString beside = KeptFolderOf(movie.absoluteFilePath());
    return ReadManifest(beside).movieUrl.isEmpty() ? QString()
                                                   : QFileInfo(beside).canonicalFilePath();
}

bool MayFetchFor(const QUrl& address, const QUrl& movieAddress)
{
    const QString scheme = address.scheme().toLower();
    if (scheme != u"http" && scheme != u"https")
        return false;
    const QString host = address.host().toLower();
    if (!movieAddress.host().isEmpty() && host == movieAddress.host().toLower())
        return true;
    return !host.isEmpty() && !isInward(host);
}

QByteArray FileSha256(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    Sha256 hash;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 read; (read = file.read(block.data(), block.size())) > 0;)
        hash.addData(std::string_view(block.constData(), static_cast<std::size_t>(read)));
    return file.error() == QFileDevice::NoError ? QByteArray::fromStdString(hash.hexResult())
                                                : QByteArray();
}
