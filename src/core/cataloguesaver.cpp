#include "cataloguesaver.h"

#include "catalogue.h"
#include "cataloguestore.h"

#include <limits>

CatalogueSaver::CatalogueSaver(Catalogue& catalogue, CatalogueStore& store, int retryMs,
                               QObject* parent)
    : QObject(parent)
    , m_catalogue(catalogue)
    , m_store(store)
    , m_retryMs(retryMs)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CatalogueSaver::save);
}

CatalogueSaver::~CatalogueSaver()
{
    m_saving.wait();
}

void CatalogueSaver::start()
{
    const auto follow = [this] {
        changed();
    };
    connect(&m_catalogue, &Catalogue::itemsReset, this, follow);
    connect(&m_catalogue, &Catalogue::itemAppended, this, follow);
    connect(&m_catalogue, &Catalogue::itemChanged, this, follow);
    connect(&m_catalogue, &Catalogue::itemsRemoved, this, follow);
    connect(&m_catalogue, &Catalogue::categoriesChanged, this, follow);
    // A read found the items log changed: the save that follows keeps what is left beside it.
    connect(&m_catalogue, &Catalogue::itemsLogChanged, this, follow);
}

void CatalogueSaver::changed()
{
    m_dirty = true;
    // The timer is not restarted by each change: a steady stream of changes is still saved.
    if (!m_saveBegun && !m_timer.isActive())
        m_timer.start(kGatherMs);
}

void CatalogueSaver::save()
{
    if (m_saveBegun || !m_dirty)
        return;
    m_dirty = false;
    m_saveBegun = true;
    const quint64 generation = ++m_generation;
    // Taken here, on the catalogue's thread: the worker reads only these copies and the log the
    // table reads, which no save ever changes in place.
    // A save is never stopped half way: the end of the program waits for it.
    m_saving =
        Background::run(this, [this, generation, items = m_catalogue.items().snapshot(),
                               categories = m_catalogue.categories()](const BackgroundTask& task) {
            QString error;
            m_ok = m_store.SaveItems(items, &error) && m_store.SaveCategories(categories, &error);
            m_error = error;
            task.post([this, generation] {
                // finish() may have taken this result already, and another save begun since.
                if (generation == m_generation && m_saveBegun)
                    conclude();
            });
        });
}

void CatalogueSaver::whenSaved(QObject* context,
                               std::function<void(bool saved, const QString& error)> then)
{
    if (!m_dirty && !m_saveBegun) {
        QTimer::singleShot(0, context, [then = std::move(then)] { then(true, {}); });
        return;
    }
    // Dirty: the next save writes it; clean while one runs: that one.
    m_waiters.push_back({m_dirty ? m_generation + 1 : m_generation, context, std::move(then)});
    if (m_dirty && !m_saveBegun && !m_failing) {
        m_timer.stop();
        save();
    }
}

void CatalogueSaver::answerWaiters(quint64 generation, bool saved)
{
    std::vector<Waiter> answered;
    std::erase_if(m_waiters, [&](Waiter& waiter) {
        if (waiter.generation > generation)
            return false;
        answered.push_back(std::move(waiter));
        return true;
    });
    for (Waiter& waiter : answered) {
        if (waiter.context)
            waiter.then(saved, saved ? QString() : m_error);
    }
}

void CatalogueSaver::conclude()
{
    m_saving.wait();
    m_saveBegun = false;
    answerWaiters(m_generation, m_ok);
    if (!m_ok) {
        m_dirty = true;
        if (!m_failing)
            emit saveFailed(m_error);
        m_failing = true;
        m_timer.start(m_retryMs);
        return;
    }
    m_failing = false;
    if (m_dirty)
        m_timer.start(kGatherMs);
    tellKeptAside();
}

void CatalogueSaver::tellKeptAside()
{
    if (const QString notice = m_store.takeKeptNotice(); !notice.isEmpty())
        emit keptAside(notice);
}

void CatalogueSaver::finish()
{
    if (m_saveBegun)
        conclude();
}

void CatalogueSaver::markSaved()
{
    m_dirty = false;
    m_failing = false;
    m_timer.stop();
    answerWaiters(std::numeric_limits<quint64>::max(), true);
}
