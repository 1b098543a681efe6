#pragma once

#include "nametable.h"
#include "records.h"
#include "storedlog.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

/// Allocates as std::allocator does, but leaves elements made without a value uninitialised, so
/// that a large table can be sized first and filled by several threads.
template <typename T>
struct UninitializedAllocator : std::allocator<T>
{
    template <typename U>
    struct rebind
    {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept
    {
    }
    template <typename U>
    void construct(U* at) noexcept
    {
        ::new (static_cast<void*>(at)) U;
    }
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args)
    {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

/// The items of a table as they stood at one moment, for a save on another thread: the records
/// loaded and not changed since are read from the log the table reads, which never changes, and
/// the others are copies.
class ItemSnapshot final
{
public:
    int size() const { return static_cast<int>(m_sources.size()); }
    /// The stored bytes of every item in order (or only of those held in memory), handed over in
    /// pieces until `write` returns false; false when it did or the log no longer held a record.
    bool storedBytes(const std::function<bool(QByteArrayView)>& write,
                     bool onlyInMemory = false) const;
    /// Visits the items held in memory, which alone can have values the log has no room for.
    void forEachInMemory(const std::function<void(int position, const ItemRecord&)>& visit) const;
    /// Whether another program changed the log the loaded records are read from: they can no
    /// longer be read, and only the items held in memory are the program's own.
    bool logChanged() const { return m_log && m_log->changed(); }

private:
    friend class ItemTable;
    std::vector<std::int32_t> m_sources; ///< >= 0: the record's number in the log; < 0: ~index
    std::vector<ItemRecord> m_owned;     ///< in the order of their positions
    std::shared_ptr<const StoredLog> m_log;
};

/// The items of the catalogue in their order. A record that was loaded and not changed since is
/// read from the items log when it is asked for: memory holds only what lists and look-ups need
/// (state, category, a hash of the address) and the records added or changed since. A catalogue
/// of 100 000 items so loads in about the time it takes to read its file, and keeps little of it.
class ItemTable final
{
public:
    ItemTable();
    ~ItemTable();
    Q_DISABLE_COPY_MOVE(ItemTable)

    int size() const { return static_cast<int>(m_slots.size()); }
    /// The record at `position`.
    ItemRecord at(int position) const;
    ItemState state(int position) const { return static_cast<ItemState>(slot(position).state); }
    /// The whole value of the item's Category field.
    QByteArrayView category(int position) const
    {
        return m_categories.name(slot(position).category);
    }

    /// Visits the items from the first, each with its record, until `visit` returns false. Loaded
    /// records are read in large pieces: a pass over a large catalogue reads its log once.
    void forEach(const std::function<bool(int position, const ItemRecord&)>& visit) const;
    /// Visits the items held in memory: only they can have extras, which the log has no field for.
    void forEachInMemory(const std::function<void(int position, const ItemRecord&)>& visit) const;

    /// The lowest position whose Url has the catalogue key `key`, or -1.
    int find(const QByteArray& key) const;

    /// Empties the table; records appended by number come from `log` from now on.
    void startLog(std::shared_ptr<const StoredLog> log, qint64 expected);
    /// Appends the first `count` records of the log, each unless an item before it holds its key:
    /// then `replaceHeld` decides, as for appendLogged. A large log is read by two threads, each
    /// taking in its half. Returns how many records the file still held.
    qint64 appendWholeLog(qint64 count, const std::function<bool(int held)>& replaceHeld);
    /// Appends `count` records of the log from record `first`, whose stored bytes are `stored`.
    /// When an item before one holds its key, `replaceHeld(position)` decides: true takes the
    /// holder out (markRemoved) and appends the record, false leaves the record out.
    void appendLogged(qint64 first, const StoredItemRecord* stored, qint64 count,
                      const std::function<bool(int held)>& replaceHeld);
    /// Appends a record whatever key it holds (the catalogue asks about a held one first).
    void append(ItemRecord&& record);
    /// Marks the item at `position` to be taken out by dropMarked: look-ups pass over it from now
    /// on, and positions stay as they are until then.
    void markRemoved(int position);
    /// Takes out the marked items; returns their positions, ascending.
    std::vector<int> dropMarked();

    void replace(int position, ItemRecord&& record);
    void setState(int position, char state);
    /// Takes out the items whose `doomed` entry is set.
    void remove(const std::vector<bool>& doomed);
    void clear();

    /// The items as they stand, to be saved on any thread.
    ItemSnapshot snapshot() const;

    /// Whether another program changed the log the loaded records are read from (StoredLog).
    bool logChanged() const { return m_log && m_log->changed(); }
    /// Called once, on the first read that finds the log changed, from whatever reads it.
    void setLogChangedHandler(std::function<void()> handler)
    {
        m_onLogChanged = std::move(handler);
    }
    /// Takes out the items read from a changed log, which can no longer be read; returns their
    /// positions, ascending.
    std::vector<int> dropUnreadable();

private:
    /// Left uninitialised when the table grows: every slot is written before it is read.
    struct Slot
    {
        std::uint32_t keyHash;
        std::int32_t source;    ///< >= 0: the record's number in the log; < 0: ~index in m_owned
        std::uint32_t category; ///< number in m_categories
        char state;
        bool removed; ///< marked to be taken out
    };
    static Slot loggedSlot(qint64 number, const StoredItemRecord& stored, NameTable& categories);
    const Slot& slot(int position) const { return m_slots[static_cast<std::size_t>(position)]; }
    bool isLogged(const Slot& s) const { return s.source >= 0; }
    const ItemRecord& owned(const Slot& s) const;
    ItemRecord logged(std::int32_t number) const;
    /// Reads records of the log; tells the handler when the log turns out changed.
    bool readLogged(qint64 first, qint64 count, char* into) const;
    QByteArray keyAt(int position) const;
    std::int32_t keep(ItemRecord&& record);
    void release(Slot& s);
    /// The first position whose Url has the key `key()` gives (whose hash is `hash`), skipping
    /// removed ones. The key is asked for only when another item's hash is the same.
    template <typename Key>
    int findHashed(std::uint32_t hash, Key&& key) const;
    /// Appends the slot unless an item holds its key, as appendLogged says.
    template <typename Key>
    void appendIndexed(const Slot& s, Key&& key, const std::function<bool(int)>& replaceHeld);
    /// Puts a new last position into the index, growing it when it would be over half full.
    void index(int position);
    /// Makes the index anew with room for `room` items without growing, over the positions
    /// below `upTo` (all by default): after positions moved or a key changed.
    void rebuildIndex(std::size_t room = 0, std::size_t upTo = SIZE_MAX);
    /// Rebuilds it only when it lacks room for `room` items.
    void ensureRoom(std::size_t room, std::size_t upTo = SIZE_MAX);
    void forgetLastRead();

    std::vector<Slot, UninitializedAllocator<Slot>> m_slots;
    std::vector<ItemRecord> m_owned;
    std::vector<std::int32_t> m_freeOwned;
    NameTable m_categories;
    std::shared_ptr<const StoredLog> m_log;
    bool m_anyMarked = false;

    /// Open addressing over positions by key hash, kept whole by every change, so that a look-up
    /// only reads it. A cell holds the hash too, so that a probe reads the cell alone.
    struct IndexCell
    {
        std::uint32_t keyHash = 0;
        std::int32_t position = -1;
    };
    std::vector<IndexCell> m_index;
    /// The last loaded record read: views ask for one item's fields one after another, each of
    /// which would otherwise read the record from the log again (selecting a 100 000-item node
    /// took 18.1 ms without it, 15.3 ms with it). Guarded, so that reads from two threads stay
    /// safe.
    struct LastRead
    {
        std::mutex mutex;
        std::int32_t number = -1;
        ItemRecord record;
    };
    mutable LastRead m_lastRead;
    std::function<void()> m_onLogChanged;
    mutable std::atomic<bool> m_toldLogChanged = false;
};

/// A hash of an address's catalogue key, taken without building the key for ASCII text.
std::uint32_t ItemKeyHash(QByteArrayView url);
