#pragma once

#include "background.h"

#include <QObject>
#include <QString>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <vector>

class Catalogue;
class CatalogueStore;

/// Saves the catalogue as it changes, so that a crash, a kill or the display server going away
/// loses at most the last moment: changes are gathered for a moment, then both logs are written
/// on a thread of their own from what the lists held when the save began, so that a large
/// catalogue never holds up the window. A failed save is told once and tried again.
class CatalogueSaver final : public QObject
{
    Q_OBJECT
public:
    /// How long changes are gathered before a save: a change is on disk within about this
    /// time of the previous save ending.
    static constexpr int kGatherMs = 300;
    /// How long a failed save waits before it is tried again.
    static constexpr int kRetryMs = 5000;

    CatalogueSaver(Catalogue& catalogue, CatalogueStore& store, int retryMs = kRetryMs,
                   QObject* parent = nullptr);
    /// Waits for a save under way: the files are never left to a thread that outlives them.
    ~CatalogueSaver() override;
    Q_DISABLE_COPY_MOVE(CatalogueSaver)

    /// Follows the catalogue's changes from now on; called once its logs were read.
    void start();
    /// Waits for a save under way to end, so that the store is free for a save of the caller's.
    void finish();
    /// The caller saved everything itself: nothing waits to be saved any more.
    void markSaved();
    /// Calls `then` once every change made so far is on disk (true), or once the save that was
    /// to write it failed (false, with its message): what a command handed to the program waits
    /// for before it answers. A change waiting to be gathered is saved at once. `then` is not
    /// called once `context` is gone.
    void whenSaved(QObject* context, std::function<void(bool saved, const QString& error)> then);
    /// Tells of a save, the caller's or its own, that left a log another program changed as it
    /// was and wrote the program's own view beside it (CatalogueStore::takeKeptNotice).
    void tellKeptAside();

signals:
    /// A save failed, said once until a save succeeds again.
    void saveFailed(const QString& message);
    /// A save found a log changed by another program and wrote beside it; said once.
    void keptAside(const QString& notice);

private:
    void changed();
    void save();
    /// Takes the result of the save that ran, once it has ended.
    void conclude();

    Catalogue& m_catalogue;
    CatalogueStore& m_store;
    int m_retryMs;
    QTimer m_timer;
    Background::Handle m_saving;
    bool m_saveBegun = false; ///< a save began and its result was not taken yet
    bool m_dirty = false;
    bool m_failing = false;
    quint64 m_generation = 0; ///< of the save last begun
    // Written by the worker before it ends, read after it was joined.
    bool m_ok = true;
    QString m_error;
    struct Waiter
    {
        quint64 generation; ///< the save that writes what it waits for
        QPointer<QObject> context;
        std::function<void(bool, const QString&)> then;
    };
    std::vector<Waiter> m_waiters;
    /// Answers the waiters the save of `generation` wrote for.
    void answerWaiters(quint64 generation, bool saved);
};
