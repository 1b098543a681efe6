#include "moviefactskeeper.h"

#include "catalogue.h"

#include <QFileInfo>

namespace {

/// Movies read before their facts are handed over together: the window thread takes a batch
/// at a time, not one event per movie.
constexpr qsizetype kBatch = 25;

} // namespace

MovieFactsKeeper::MovieFactsKeeper(const Catalogue& catalogue, const QString& dataFolder,
                                   QObject* parent)
    : QObject(parent)
    , m_catalogue(catalogue)
    , m_store(dataFolder)
{
}

MovieFactsKeeper::~MovieFactsKeeper()
{
    m_gathering.cancel();
    m_gathering.wait();
    m_saving.wait();
    if (m_loaded)
        pruneToCatalogue();
    QString error;
    if (!m_store.save(&error))
        qWarning("Clip Vault: %s", qPrintable(error));
}

QList<std::pair<QString, QByteArray>> MovieFactsKeeper::unknownMovies() const
{
    // Look-ups alone on this thread: whether a file is there, and what the store knows of a file
    // without a SHA-256, are asked by the reading, off it.
    QList<std::pair<QString, QByteArray>> unknown;
    m_catalogue.items().forEach([&](int, const ItemRecord& item) {
        if (item.State == static_cast<char>(ItemState::Downloaded) &&
            (item.extras.sha256.isEmpty() || !m_store.knowsContent(item.extras.sha256)))
            unknown.append({ItemFilePath(item), item.extras.sha256});
        return true;
    });
    return unknown;
}

void MovieFactsKeeper::gather()
{
    if (isGathering()) {
        m_again = true;
        return;
    }
    if (!m_loaded)
        return loadThenGather();
    m_again = false;
    const QList<std::pair<QString, QByteArray>> unknown = unknownMovies();
    if (unknown.isEmpty())
        return gatheringEnded(); // what the catalogue no longer holds still goes
    // The reading asks its own copy of the store what is known; this thread keeps changing the
    // original.
    m_gathering =
        Background::run(this, [this, unknown, known = m_store](const BackgroundTask& task) {
            QList<ReadFacts> batch;
            for (const auto& [file, sha256] : unknown) {
                if (task.stopped())
                    break;
                if (known.known(file, sha256) || !QFileInfo(file).isFile())
                    continue;
                batch.append(ReadMovieFacts(file, sha256));
                if (batch.size() == kBatch)
                    task.post([this, done = std::exchange(batch, {})] { take(done); });
            }
            task.post([this, done = std::move(batch)] {
                take(done);
                gatheringEnded();
            });
        });
}

void MovieFactsKeeper::loadThenGather()
{
    // The store may hold thousands of movies' facts: read off this thread, and not at start-up.
    m_gathering =
        Background::run(this, [this, store = m_store](const BackgroundTask& task) mutable {
            if (QString error; !store.load(&error))
                qInfo("Clip Vault: %s", qPrintable(error));
            task.post([this, store = std::move(store)] {
                m_gathering.wait();
                m_store = store;
                m_loaded = true;
                gather();
            });
        });
}

void MovieFactsKeeper::take(const QList<ReadFacts>& batch)
{
    for (const ReadFacts& read : batch)
        m_store.take(read);
    if (!batch.isEmpty())
        emit gathered(static_cast<int>(batch.size()));
}

void MovieFactsKeeper::gatheringEnded()
{
    m_gathering.wait();
    // Thousands of movies' facts take a moment to write: not on this thread.
    m_saving.wait();
    pruneToCatalogue();
    if (std::optional<MovieFactsStore> copy = m_store.takeForSave()) {
        m_saving = Background::run(
            this, [this, copy = std::move(*copy)](const BackgroundTask& task) mutable {
                if (QString error; !copy.save(&error))
                    task.post([this, error] {
                        qWarning("Clip Vault: %s", qPrintable(error));
                        m_store.changedAgain();
                    });
            });
    }
    if (m_again)
        gather();
}

void CatalogueMovies::add(const ItemRecord& item)
{
    if (item.State != static_cast<char>(ItemState::Downloaded))
        return;
    if (!item.extras.sha256.isEmpty())
        contents.insert(item.extras.sha256);
    paths.insert(QFileInfo(ItemFilePath(item)).absoluteFilePath());
}

void MovieFactsKeeper::pruneToCatalogue()
{
    CatalogueMovies movies;
    m_catalogue.items().forEach([&](int, const ItemRecord& item) {
        movies.add(item);
        return true;
    });
    movies.prune(m_store);
}

const SwfContents* MovieFactsKeeper::factsOf(const ItemRecord& item) const
{
    return m_store.known(ItemFilePath(item), item.extras.sha256);
}
