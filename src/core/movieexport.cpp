#include "movieexport.h"

#include "atomicwrite.h"
#include "filetransfer.h"
#include "keptfiles.h"
#include "regularfile.h"
#include "swfreferences.h"
#include "urlresolve.h"

#include <zip.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

namespace {

/// Every file of the export: where it comes from and its place under "content/".
struct ContentFile
{
    QString source;
    QString place;
};

QString escaped(const QString& value, bool yaml)
{
    QString out;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '"':
            out += QStringLiteral("\\\"");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7F ||
                (yaml && c.unicode() >= 0x80 && c.unicode() < 0xA0))
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return u'"' + out + u'"';
}

/// The address a movie is exported under: its own, or for a movie of this machine (imported
/// from disk) one on "localhost" by its file name, which sends no local path out.
QString exportedAddress(const ExportSource& source)
{
    if (!IsLocalAddress(source.movieUrl))
        return source.movieUrl;
    QUrl address(QStringLiteral("http://localhost/"));
    address.setPath(u'/' + QFileInfo(source.movieFile).fileName());
    return address.toString(QUrl::FullyEncoded);
}

/// The kept files of the movie, each once, the movie first.
QList<KeptFile> filesOf(const ExportSource& source)
{
    QList<KeptFile> files;
    const QString address = exportedAddress(source);
    const std::optional<QString> moviePlace = KeptPathFor(QUrl(address));
    if (moviePlace)
        files.append({address, *moviePlace, 0, {}, {}});
    if (!source.keptRoot.isEmpty()) {
        for (const KeptFile& kept : ReadManifest(source.keptRoot).files) {
            if (!moviePlace || kept.path != *moviePlace)
                files.append(kept);
        }
    }
    return files;
}

QString fileOf(const ExportSource& source, const KeptFile& kept, bool isMovie)
{
    return isMovie ? source.movieFile : QDir(source.keptRoot).filePath(kept.path);
}

/// Whether the movie names any file by an absolute address, which a bundle leaves to the web.
bool namesAbsoluteAddresses(const QString& movieFile)
{
    const QStringList references = NamedFileReferencesOfFile(movieFile, qint64(64) << 20);
    return std::any_of(references.cbegin(), references.cend(), [](const QString& reference) {
        return reference.contains(QStringLiteral("://"));
    });
}

bool addToZip(zip_t* archive, const QString& name, const QByteArray& bytes)
{
    // libzip copies nothing until the archive is closed: the buffer is handed over to it.
    void* copy = std::malloc(static_cast<std::size_t>(std::max<qsizetype>(bytes.size(), 1)));
    if (!copy)
        return false;
    std::memcpy(copy, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    zip_source_t* data =
        zip_source_buffer(archive, copy, static_cast<zip_uint64_t>(bytes.size()), 1);
    if (!data) {
        std::free(copy);
        return false;
    }
    if (zip_file_add(archive, name.toUtf8().constData(), data,
                     ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
        zip_source_free(data);
        return false;
    }
    return true;
}

/// A file of the movie's, only when it is a regular file of bounded size: a kept file that is a
/// link (to a private file, a device, a FIFO that would hang the export) is never copied.
std::optional<QByteArray> readExported(const QString& path, QString* error)
{
    return ReadRegularFile(path, kMaxKeptBytes, error);
}

/// Writes `bytes` at `relative` below `root`, through no link planted on the way and replacing
/// whatever stands at its place.
bool writeExported(const QString& root, const QString& relative, const QByteArray& bytes,
                   QString* error)
{
    const QString target = QDir(root).filePath(relative);
    if (HasNoLinkBelow(root, QFileInfo(relative).path()) &&
        QDir().mkpath(QFileInfo(target).absolutePath()) && ReplaceFileWith(target, bytes))
        return true;
    *error = CannotCreateFileMessage(target);
    return false;
}

} // namespace

QString YamlQuoted(const QString& value)
{
    return escaped(value, true);
}

QString TomlQuoted(const QString& value)
{
    return escaped(value, false);
}

ExportResult ExportRuffleBundle(const ExportSource& source, const QString& zipFile)
{
    ExportResult result;
    const QList<KeptFile> files = filesOf(source);
    if (files.isEmpty()) {
        result.error = source.movieUrl + QStringLiteral(" is no address of a movie file");
        return result;
    }
    // Written beside the target and renamed over it once whole.
    const QString partial = zipFile + QStringLiteral(".part");
    QFile::remove(partial);
    int error = 0;
    zip_t* archive =
        zip_open(QFile::encodeName(partial).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) {
        result.error = CannotCreateFileMessage(zipFile);
        return result;
    }
    const QString movieHost = files.first().path.section(u'/', 0, 0);
    const QString moviePath = files.first().path.section(u'/', 1);
    bool written = true;
    QStringList elsewhere;
    for (qsizetype i = 0; i < files.size() && written; ++i) {
        const KeptFile& kept = files[i];
        // Another site's file cannot be reached from the bundle by its address.
        if (kept.path.section(u'/', 0, 0) != movieHost) {
            elsewhere << kept.url;
            continue;
        }
        const std::optional<QByteArray> bytes =
            readExported(fileOf(source, kept, i == 0), &result.error);
        if (!bytes) {
            zip_discard(archive);
            QFile::remove(partial);
            return result;
        }
        written =
            addToZip(archive, QStringLiteral("content/") + kept.path.section(u'/', 1), *bytes);
    }
    // Ruffle reads the name and the movie's place; the comment keeps the address the movie was
    // served from, for an import that brings the bundle back as the movie of its site.
    const QString toml =
        QStringLiteral("[bundle]\nname = %1\nurl = %2\n# source = %3\n")
            .arg(TomlQuoted(source.title.isEmpty() ? QFileInfo(source.movieFile).fileName()
                                                   : source.title),
                 TomlQuoted(QStringLiteral("file:///") + moviePath),
                 TomlQuoted(exportedAddress(source)));
    written = written && addToZip(archive, QStringLiteral("ruffle-bundle.toml"), toml.toUtf8());
    // A failed close leaves the archive open: it is discarded either way.
    if (!written || zip_close(archive) != 0) {
        zip_discard(archive);
        QFile::remove(partial);
        result.error = CannotCreateFileMessage(zipFile);
        return result;
    }
    if (QFile::exists(zipFile) && !QFile::remove(zipFile)) {
        result.error = CannotCreateFileMessage(zipFile);
        return result;
    }
    if (!QFile::rename(partial, zipFile)) {
        result.error = CannotCreateFileMessage(zipFile);
        return result;
    }
    if (!elsewhere.isEmpty() || namesAbsoluteAddresses(source.movieFile))
        result.notes << QStringLiteral("The movie also loads files by absolute address; from a "
                                       "bundle those come from the web. Export a curation folder, "
                                       "or keep the site, to play them offline.");
    return result;
}

namespace {

/// Where a kept file goes below "content/": the archive serves a site by its host alone, so a
/// port the kept layout joined to the host ("host_8080") is left out.
QString curationPath(const KeptFile& kept)
{
    const QString host = QUrl(kept.url).host(QUrl::FullyEncoded);
    const QString rest = kept.path.section(u'/', 1);
    return host.isEmpty() || rest.isEmpty() ? kept.path : host + u'/' + rest;
}

/// meta.yaml, with the keys the curators' tool warns about when they are missing.
QString curationMeta(const ExportSource& source)
{
    // The format wants the launch address with "http://", for https sites too, and on the host
    // the content folder names.
    QUrl launch(exportedAddress(source));
    launch.setScheme(QStringLiteral("http"));
    launch.setPort(-1);
    const QString title =
        source.title.isEmpty() ? QFileInfo(source.movieFile).completeBaseName() : source.title;
    QString meta =
        QStringLiteral("Title: %1\nLibrary: \"arcade\"\nSource: %2\n"
                       "Platform: \"Flash\"\nApplication Path: %3\n"
                       "Launch Command: %4\n")
            .arg(YamlQuoted(title),
                 YamlQuoted(IsLocalAddress(source.movieUrl) ? QString() : source.movieUrl),
                 YamlQuoted(QStringLiteral("FPSoftware\\Flash\\flashplayer_32_sa.exe")),
                 YamlQuoted(launch.toString(QUrl::FullyEncoded)));
    if (!source.category.trimmed().isEmpty())
        meta += QStringLiteral("Tags: %1\n").arg(YamlQuoted(source.category.trimmed()));
    return meta;
}

} // namespace

ExportResult ExportCuration(const ExportSource& source, const QString& folder,
                            const QByteArray& picturePng)
{
    ExportResult result;
    const QList<KeptFile> files = filesOf(source);
    if (files.isEmpty()) {
        result.error = source.movieUrl + QStringLiteral(" is no address of a movie file");
        return result;
    }
    if (!HasNoLinkBelow(folder, QStringLiteral("content"))) {
        result.error = CannotCreateFileMessage(QDir(folder).filePath(QStringLiteral("content")));
        return result;
    }
    const QString content = QDir(folder).filePath(QStringLiteral("content"));
    for (qsizetype i = 0; i < files.size(); ++i) {
        const std::optional<QByteArray> bytes =
            readExported(fileOf(source, files[i], i == 0), &result.error);
        if (!bytes || !writeExported(content, curationPath(files[i]), *bytes, &result.error))
            return result;
    }
    if (!writeExported(folder, QStringLiteral("meta.yaml"), curationMeta(source).toUtf8(),
                       &result.error))
        return result;
    if (source.category.trimmed().isEmpty())
        result.notes << QStringLiteral("The movie has no category to give as its tag: Tags is "
                                       "left for the curator.");
    if (IsLocalAddress(source.movieUrl))
        result.notes << QStringLiteral("The movie came from this machine, not from a site: it "
                                       "is launched from localhost, and Source is left for the "
                                       "curator.");
    // The curators' tool asks for a logo and a screenshot: the movie's picture is both.
    if (picturePng.isEmpty()) {
        result.notes << QStringLiteral("There is no picture of the movie: logo.png and ss.png "
                                       "are left out.");
        return result;
    }
    for (const QString& name : {QStringLiteral("logo.png"), QStringLiteral("ss.png")}) {
        if (!writeExported(folder, name, picturePng, &result.error))
            return result;
    }
    return result;
}
