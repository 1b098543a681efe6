#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A movie and the files kept with it, written for other players: a Ruffle bundle (a zip that
// Ruffle's desktop player opens offline) or a curation folder of a preservation archive.

/// What is exported.
struct ExportSource
{
    QString movieUrl;  ///< the movie's web address
    QString movieFile; ///< its local file
    QString keptRoot;  ///< the layout its files are kept in; empty: none
    QString title;     ///< a name for people
    QString category;  ///< the item's category, a tag for an archive's curators; empty: none
};

/// What an export did: an error (empty on success) and notes for the user.
struct ExportResult
{
    QString error;
    QStringList notes;
    bool ok() const { return error.isEmpty(); }
};

/// Writes a Ruffle bundle: "ruffle-bundle.toml" and "content/", in which the movie and the
/// files of its own site keep their paths on the site, so that its relative and root-relative
/// loads find them. The file is replaced only once it is whole.
ExportResult ExportRuffleBundle(const ExportSource& source, const QString& zipFile);

/// Writes a curation folder: "content/<host>/<path>" for the movie and each kept file (the host
/// without a port, as the archive serves it and as the Launch Command names it), "meta.yaml"
/// with the keys the curators' tool asks for, and "logo.png" and "ss.png" when `picturePng`
/// holds the movie's picture.
ExportResult ExportCuration(const ExportSource& source, const QString& folder,
                            const QByteArray& picturePng);

/// A value for meta.yaml: double-quoted, with backslashes, quotes and control characters
/// escaped, so that no title or address can break the file.
QString YamlQuoted(const QString& value);
/// A value for ruffle-bundle.toml, quoted and escaped as TOML's basic strings are.
QString TomlQuoted(const QString& value);
