#pragma once

#include "background.h"
#include "moviefacts.h"

#include <QObject>
#include <QSet>

class Catalogue;
struct ItemRecord;

/// The movies the catalogue holds, as the facts store keeps them: their contents and files.
struct CatalogueMovies
{
    QSet<QByteArray> contents;
    QSet<QString> paths;
    /// Notes the item's movie when it is downloaded.
    void add(const ItemRecord& item);
    /// Leaves the store the facts of these movies alone.
    void prune(MovieFactsStore& store) const { store.keepOnly(contents, paths); }
};
struct ItemRecord;

/// The facts inside the catalogue's movies for the program: read off the window thread for
/// every downloaded movie that has none yet (gather, after start-up and whenever the downloads
/// run dry), a few movies at a time, and kept in the data folder's facts store. A search inside
/// the movies asks it, and never opens a movie itself.
class MovieFactsKeeper final : public QObject
{
    Q_OBJECT
public:
    MovieFactsKeeper(const Catalogue& catalogue, const QString& dataFolder,
                     QObject* parent = nullptr);
    /// Stops the reading and keeps what was read.
    ~MovieFactsKeeper() override;
    Q_DISABLE_COPY_MOVE(MovieFactsKeeper)

    /// Reads the facts of the downloaded movies that have none; again once it is over when
    /// asked while it runs.
    void gather();
    bool isGathering() const { return m_gathering.isRunning(); }
    /// The facts of the item's movie file, when they were read; null otherwise.
    const SwfContents* factsOf(const ItemRecord& item) const;

signals:
    /// Facts of `count` more movies are known.
    void gathered(int count);

private:
    /// The downloaded movies whose content the store does not know by a look-up, with their
    /// SHA-256 when the item has it.
    QList<std::pair<QString, QByteArray>> unknownMovies() const;
    /// Reads the store off this thread, then gathers.
    void loadThenGather();
    void take(const QList<ReadFacts>& batch);
    void gatheringEnded();
    /// Before a save: the store keeps the facts of the catalogue's downloaded movies alone.
    void pruneToCatalogue();

    const Catalogue& m_catalogue;
    MovieFactsStore m_store;
    Background::Handle m_gathering;
    Background::Handle m_saving; ///< the store written off this thread, one save at a time
    bool m_again = false;
    bool m_loaded = false; ///< the store's file was read (by the first gathering, not at start)
};
