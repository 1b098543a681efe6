#pragma once

#include "swfcontents.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QString>

/// What reading one movie file for its facts found, off the window thread if need be.
struct ReadFacts
{
    QString path; ///< absolute
    qint64 size = -1;
    QDateTime modified;
    QByteArray sha256;                ///< empty: the file could not be read
    std::optional<SwfContents> facts; ///< none: no movie, or damaged
    QString error;
};

/// Reads the file at `path` for its facts, and for its SHA-256 unless it is given.
ReadFacts ReadMovieFacts(const QString& path, const QByteArray& sha256 = {});

/// The facts inside the catalogue's movies, kept in "movie-facts.json" in the data folder by
/// each file's SHA-256: a movie's facts are read once per content, whatever its name, place or
/// number of items, so that a search inside the collection does not open the movies again. A
/// file's SHA-256 is kept by its path, size and time, so that an unchanged file is not read
/// again for it either. A copy is cheap (its tables are shared until one side changes) and may
/// be read on another thread while the original changes.
class MovieFactsStore final
{
public:
    explicit MovieFactsStore(const QString& dataFolder);

    /// Reads the store. A missing file is an empty store; a damaged one is left where it is
    /// (the next save replaces it) and read as empty, with the reason in `error`.
    bool load(QString* error = nullptr);
    /// Forgets the facts of every content but `contents` and of the files at `paths`, and what it
    /// knows of files at other paths: the store holds the catalogue's movies, not every movie
    /// it ever held.
    void keepOnly(const QSet<QByteArray>& contents, const QSet<QString>& paths);
    /// Writes the store in place atomically, when something was added since it was read.
    bool save(QString* error = nullptr);
    /// A copy to save on another thread, after which this store counts as saved; nothing when
    /// nothing was added. A save of the copy that fails calls changedAgain.
    std::optional<MovieFactsStore> takeForSave();
    void changedAgain() { m_changed = true; }

    /// The facts of the movie file at `path`, whose SHA-256 is `sha256` when known (else it is
    /// taken from the file, or from what the store knows of the unchanged file). Read from the
    /// file only when the store has none for its content. Nothing, with the reason, for a file
    /// that cannot be read or is no movie.
    std::optional<SwfContents> factsOf(const QString& path, const QByteArray& sha256,
                                       QString* error = nullptr);
    /// The facts known for the file at `path` (its SHA-256 when known, else what the store
    /// knows of the unchanged file), without reading it; null when none are.
    const SwfContents* known(const QString& path, const QByteArray& sha256) const;
    /// Whether the store has facts for this content, by a look-up alone.
    bool knowsContent(const QByteArray& sha256) const { return m_facts.contains(sha256); }
    /// Takes what reading a file found.
    void take(const ReadFacts& read);

    int count() const { return static_cast<int>(m_facts.size()); }
    static QString fileName() { return QStringLiteral("movie-facts.json"); }

private:
    /// A file as it was when its SHA-256 was taken.
    struct KnownFile
    {
        qint64 size = -1;
        QDateTime modified;
        QByteArray sha256;
    };
    /// The SHA-256 the store knows for the file as it is now; empty when it knows none.
    QByteArray knownSha256(const QString& path) const;

    QString m_path;
    QHash<QByteArray, SwfContents> m_facts;
    QHash<QString, KnownFile> m_files;
    bool m_changed = false;
};

/// The facts as a JSON object, as swf-info prints them and the store keeps them.
QJsonObject SwfContentsJson(const SwfContents& facts);
SwfContents SwfContentsFromJson(const QJsonObject& object);
