#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <string_view>

// The files an import reads: a folder tree or a zip archive, listed once and read entry by
// entry. Nothing is ever written into either.

/// One file of a source, by its path below the source's top ("a/b.swf").
struct SourceEntry
{
    QString path;
    qint64 size = 0;
    QString skipReason; ///< not to be read, and why (a link, a name that could leave the tree)
};

/// A folder or a zip archive to read files from.
class ImportSource
{
public:
    virtual ~ImportSource() = default;

    /// Opens `path`: a folder, or a zip archive (a .zip, a Ruffle bundle's .ruf). Null with the
    /// reason in `error` when it cannot be read as either.
    static std::unique_ptr<ImportSource> open(const QString& path, QString* error);

    /// Every file below the top, each once. A folder's links are listed, never followed.
    const QList<SourceEntry>& entries() const { return m_entries; }
    /// The entry at `path`, skipped or not; null when there is none.
    const SourceEntry* find(const QString& path) const;
    /// Whether the source holds a file at `path` that may be read.
    bool has(const QString& path) const;

    /// Hands the entry's bytes to `piece` in order until it returns false (the reader wants no
    /// more) or the entry ends; at most `maxBytes` are read (more: the reason in `error`). False
    /// with the reason in `error` when the entry could not be read whole.
    using Piece = std::function<bool(std::string_view bytes)>;
    virtual bool read(const SourceEntry& entry, qint64 maxBytes, const Piece& piece,
                      QString* error) const = 0;
    /// The whole of a small entry; empty when it cannot be read so.
    QByteArray readSmall(const QString& path, qint64 maxBytes) const;

    /// The most an archive's entries may unpack to, all together: the smaller of 4 GiB and 200
    /// times the archive's size (no real collection compresses better). -1 for a folder.
    virtual qint64 unpackBound() const { return -1; }
    /// Whether the entry, as large as the archive says, still fits in what is left of the
    /// bound; the reason when it does not. A directory that lies is caught as the bytes come.
    virtual QString whyOverBound(const SourceEntry&) const { return {}; }

    /// Where the entry lies on disk, for a folder; empty for an archive's entries.
    virtual QString localPath(const SourceEntry& entry) const = 0;
    /// What the user named: the folder or the archive.
    virtual QString location() const = 0;

protected:
    /// Adds an entry as the listing finds it.
    void add(const SourceEntry& entry);

private:
    QList<SourceEntry> m_entries;
    QHash<QString, qsizetype> m_positions; ///< by path
};

/// Whether an entry's path stays inside the tree it names: relative, no "." or ".." segment,
/// no backslash, no empty segment.
bool IsContainedPath(const QString& path);
