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
    QString error;
    if (!m_store.load(&error))
        qInfo("Clip Vault: %s", qPrintable(error));
}

MovieFactsKeeper::~MovieFactsKeeper()
{
    m_gathering.cancel();
    m_gathering.wait();
    QString error;
    if (!m_store.save(&error))
        qWarning("Clip Vault: %s", qPrintable(error));
}

QList<std::pair<QString, QByteArray>> MovieFactsKeeper::unknownMovies() const
{
    QList<std::pair<QString, QByteArray>> unknown;
    m_catalogue.items().forEach([&](int, const ItemRecord& item) {
        if (item.State != static_cast<char>(ItemState::Downloaded))
            return true;
        const QString file = ItemFilePath(item);
        if (!m_store.known(file, item.extras.sha256) && QFileInfo(file).isFile())
            unknown.append({file, item.extras.sha256});
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
    m_again = false;
    const QList<std::pair<QString, QByteArray>> unknown = unknownMovies();
    if (unknown.isEmpty())
        return;
    m_gathering = Background::run(this, [this, unknown](const BackgroundTask& task) {
        QList<ReadFacts> batch;
        for (const auto& [file, sha256] : unknown) {
            if (task.stopped())
                break;
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
    QString error;
    if (!m_store.save(&error))
        qWarning("Clip Vault: %s", qPrintable(error));
    if (m_again)
        gather();
}

const SwfContents* MovieFactsKeeper::factsOf(const ItemRecord& item) const
{
    return m_store.known(ItemFilePath(item), item.extras.sha256);
}
