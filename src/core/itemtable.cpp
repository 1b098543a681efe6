#include "itemtable.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <system_error>
#include <tuple>
#include <thread>

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kRecordsPerPiece = StoredLog::kRecordsPerPiece;

constexpr std::uint64_t kEveryByte = 0x0101010101010101ULL;

/// The eight bytes with the ASCII capital letters made small, every other byte as it is.
std::uint64_t foldedAscii(std::uint64_t word)
{
    const std::uint64_t low = word & (0x7f * kEveryByte);
    const std::uint64_t atLeastA = low + (0x80 - 'A') * kEveryByte;
    const std::uint64_t pastZ = low + (0x80 - 'Z' - 1) * kEveryByte;
    const std::uint64_t capitals = atLeastA & ~pastZ & ~word & (0x80 * kEveryByte);
    return word | (capitals >> 2);
}

std::uint64_t mixed(std::uint64_t hash, std::uint64_t word, std::uint64_t factor)
{
    hash = (hash ^ word) * factor;
    return hash ^ (hash >> 29);
}

/// A hash of the text with ASCII letters folded; `ascii` tells whether every byte was ASCII. Two
/// lanes of eight bytes each are mixed independently, so that their multiplications overlap:
/// hashing is a good part of loading a large catalogue.
std::uint32_t foldedHash(QByteArrayView text, bool* ascii = nullptr)
{
    constexpr std::uint64_t kFactors[2] = {0xbf58476d1ce4e5b9ULL, 0x94d049bb133111ebULL};
    std::uint64_t lanes[2] = {0x9e3779b97f4a7c15ULL ^ static_cast<std::uint64_t>(text.size()),
                              0xc2b2ae3d27d4eb4fULL};
    std::uint64_t high = 0;
    const char* bytes = text.data();
    qsizetype i = 0;
    for (; i + 16 <= text.size(); i += 16) {
        std::uint64_t words[2];
        std::memcpy(words, bytes + i, 16);
        high |= words[0] | words[1];
        lanes[0] = mixed(lanes[0], foldedAscii(words[0]), kFactors[0]);
        lanes[1] = mixed(lanes[1], foldedAscii(words[1]), kFactors[1]);
    }
    if (i < text.size()) {
        std::uint64_t words[2] = {0, 0};
        std::memcpy(words, bytes + i, static_cast<std::size_t>(text.size() - i));
        high |= words[0] | words[1];
        lanes[0] = mixed(lanes[0], foldedAscii(words[0]), kFactors[0]);
        lanes[1] = mixed(lanes[1], foldedAscii(words[1]), kFactors[1]);
    }
    if (ascii)
        *ascii = (high & (0x80 * kEveryByte)) == 0;
    const std::uint64_t hash = mixed(lanes[0], lanes[1], kFactors[1]) * kFactors[0];
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

} // namespace

std::uint32_t ItemKeyHash(QByteArrayView url)
{
    // For ASCII text the key is the trimmed text with its letters folded, which the hash folds
    // itself; other text is folded by Qt first. Folding a key again changes nothing, so both give
    // the hash of the key.
    bool ascii = true;
    const std::uint32_t hash = foldedHash(TrimmedBlanks(url), &ascii);
    return ascii ? hash : foldedHash(CatalogueKey(url));
}

// --- StoredLog

// --- ItemTable

ItemTable::ItemTable()
{
    clear();
}

ItemTable::~ItemTable() = default;

const ItemRecord& ItemTable::owned(const Slot& s) const
{
    return m_owned[static_cast<std::size_t>(~s.source)];
}

ItemRecord ItemTable::logged(std::int32_t number) const
{
    const std::lock_guard lock(m_lastRead.mutex);
    if (m_lastRead.number != number) {
        StoredItemRecord stored{};
        if (!readLogged(number, 1, reinterpret_cast<char*>(&stored)))
            std::memset(&stored, 0, sizeof stored);
        m_lastRead.record = FromStored(stored);
        m_lastRead.number = number;
    }
    return m_lastRead.record;
}

bool ItemTable::readLogged(qint64 first, qint64 count, char* into) const
{
    if (m_log && m_log->read(first, count, into))
        return true;
    if (logChanged() && !m_toldLogChanged.exchange(true) && m_onLogChanged)
        m_onLogChanged();
    return false;
}

ItemRecord ItemTable::at(int position) const
{
    const Slot& s = slot(position);
    return isLogged(s) ? logged(s.source) : owned(s);
}

QByteArray ItemTable::keyAt(int position) const
{
    const Slot& s = slot(position);
    if (!isLogged(s))
        return CatalogueKey(FieldBytes(owned(s).Url));
    return CatalogueKey(FieldBytes(logged(s.source).Url));
}

void ItemTable::forEach(const std::function<bool(int, const ItemRecord&)>& visit) const
{
    std::vector<StoredItemRecord> piece;
    qint64 pieceFirst = 0;
    for (int position = 0; position < size(); ++position) {
        const Slot& s = slot(position);
        if (!isLogged(s)) {
            if (!visit(position, owned(s)))
                return;
            continue;
        }
        const qint64 number = s.source;
        if (number < pieceFirst || number >= pieceFirst + static_cast<qint64>(piece.size())) {
            const qint64 count =
                std::clamp<qint64>(m_log->readableRecords() - number, 1, kRecordsPerPiece);
            piece.resize(static_cast<std::size_t>(count));
            pieceFirst = number;
            if (!readLogged(number, count, reinterpret_cast<char*>(piece.data())))
                piece.assign(1, StoredItemRecord{}); // the file lost it: an empty record
        }
        if (!visit(position, FromStored(piece[static_cast<std::size_t>(number - pieceFirst)])))
            return;
    }
}

void ItemTable::forEachInMemory(const std::function<void(int, const ItemRecord&)>& visit) const
{
    for (int position = 0; position < size(); ++position) {
        if (const Slot& s = slot(position); !isLogged(s))
            visit(position, owned(s));
    }
}

ItemTable::Slot ItemTable::loggedSlot(qint64 number, const StoredItemRecord& stored,
                                      NameTable& categories)
{
    return {ItemKeyHash(FieldBytes(stored.Url)), static_cast<std::int32_t>(number),
            categories.internField(stored.Category), stored.State, false};
}

std::int32_t ItemTable::keep(ItemRecord&& record)
{
    if (!m_freeOwned.empty()) {
        const std::int32_t index = m_freeOwned.back();
        m_freeOwned.pop_back();
        m_owned[static_cast<std::size_t>(index)] = std::move(record);
        return ~index;
    }
    m_owned.push_back(std::move(record));
    return ~static_cast<std::int32_t>(m_owned.size() - 1);
}

void ItemTable::release(Slot& s)
{
    if (isLogged(s))
        return;
    m_owned[static_cast<std::size_t>(~s.source)] = ItemRecord{};
    m_freeOwned.push_back(~s.source);
}

template <typename Key>
int ItemTable::findHashed(std::uint32_t hash, Key&& key) const
{
    const std::size_t mask = m_index.size() - 1;
    int first = -1;
    QByteArray wanted; // built only when another item's hash is the same
    for (std::size_t cell = hash & mask; m_index[cell].position >= 0; cell = (cell + 1) & mask) {
        const IndexCell& entry = m_index[cell];
        if (entry.keyHash != hash || (first >= 0 && entry.position > first))
            continue;
        if (slot(entry.position).removed)
            continue;
        if (wanted.isNull())
            wanted = key();
        if (keyAt(entry.position) == wanted)
            first = entry.position;
    }
    return first;
}

template <typename Key>
void ItemTable::appendIndexed(const Slot& s, Key&& key, const std::function<bool(int)>& replaceHeld)
{
    const int held = findHashed(s.keyHash, key);
    if (held >= 0 && !replaceHeld(held))
        return;
    if (held >= 0)
        markRemoved(held);
    m_slots.push_back(s);
    index(size() - 1);
}

int ItemTable::find(const QByteArray& key) const
{
    return findHashed(ItemKeyHash(key), [&] { return key; });
}

void ItemTable::index(int position)
{
    if ((static_cast<std::size_t>(size()) + 1) * 2 > m_index.size())
        return rebuildIndex(); // doubles, and holds every position then
    const std::size_t mask = m_index.size() - 1;
    const std::uint32_t hash = slot(position).keyHash;
    std::size_t cell = hash & mask;
    while (m_index[cell].position >= 0)
        cell = (cell + 1) & mask;
    m_index[cell] = {hash, position};
}

void ItemTable::rebuildIndex(std::size_t room, std::size_t upTo)
{
    room = std::max(room, m_slots.size());
    m_index.assign(std::bit_ceil(std::max<std::size_t>(16, room * 2 + 2)), IndexCell{});
    for (std::size_t position = 0; position < std::min(upTo, m_slots.size()); ++position) {
        if (!m_slots[position].removed)
            index(static_cast<int>(position));
    }
}

void ItemTable::ensureRoom(std::size_t room, std::size_t upTo)
{
    if ((room + 1) * 2 > m_index.size())
        rebuildIndex(room, upTo);
}

void ItemTable::startLog(std::shared_ptr<const StoredLog> log, qint64 expected)
{
    clear();
    m_log = std::move(log);
    m_slots.reserve(static_cast<std::size_t>(expected)); // the index is made as it is needed
}

void ItemTable::appendLogged(qint64 first, const StoredItemRecord* stored, qint64 count,
                             const std::function<bool(int)>& replaceHeld)
{
    for (qint64 i = 0; i < count; ++i) {
        appendIndexed(
            loggedSlot(first + i, stored[i], m_categories),
            [&] { return CatalogueKey(FieldBytes(stored[i].Url)); }, replaceHeld);
    }
}

qint64 ItemTable::appendWholeLog(qint64 count, const std::function<bool(int)>& replaceHeld)
{
    // Reading the file is most of the work, and two threads read it faster than one: each reads
    // its half in pieces and fills its slots, with category numbers of its own that are made the
    // table's afterwards. The look-ups then run in order, as appends would. Measured on the
    // benchmark's 100 000-item log (medians of 5 on a two-core machine): 13.2 ms with two
    // threads, 19.2 ms with one, which is 1.7 x cat, over the load target of 1.5.
    constexpr qint64 kAloneBelow = 2048; // about 1.3 MB
    struct Part
    {
        qint64 from = 0;
        qint64 to = 0;
        qint64 readTo = 0;
        NameTable categories;
    };
    const std::size_t base = m_slots.size();
    m_slots.resize(base + static_cast<std::size_t>(count));
    std::array<Part, 2> parts;
    parts[0].to = count;
    const bool split = count >= kAloneBelow && std::thread::hardware_concurrency() > 1;
    if (split) {
        parts[0].to = count / 2;
        parts[1].from = parts[0].to;
        parts[1].to = count;
    }
    const auto fill = [&](Part& part, NameTable& categories) {
        const qint64 read = m_log->readInPieces(
            part.from, part.to - part.from, [&](qint64 first, const char* bytes, qint64 n) {
                const auto* records = reinterpret_cast<const StoredItemRecord*>(bytes);
                for (qint64 k = 0; k < n; ++k)
                    m_slots[base + static_cast<std::size_t>(first + k)] =
                        loggedSlot(first + k, records[k], categories);
            });
        part.readTo = part.from + read;
    };
    std::thread helper;
    if (split) {
        try {
            helper = std::thread(fill, std::ref(parts[1]), std::ref(parts[1].categories));
        } catch (const std::system_error&) {
            fill(parts[1], parts[1].categories); // no thread to be had: this one reads it all
        }
    }
    fill(parts[0], m_categories);
    // The index's memory is made ready here while the helper may still read. It has room for
    // every new position and holds only those before `base`: the new ones go in below, in order.
    ensureRoom(m_slots.size(), base);
    if (helper.joinable())
        helper.join();

    // What the file still held, up to the first record it no longer had.
    const qint64 loaded =
        !split || parts[0].readTo < parts[0].to ? parts[0].readTo : parts[1].readTo;
    if (split && loaded > parts[1].from) {
        std::vector<std::uint32_t> ids(parts[1].categories.size());
        for (std::uint32_t id = 0; id < ids.size(); ++id)
            ids[id] = m_categories.intern(parts[1].categories.name(id));
        for (qint64 i = parts[1].from; i < loaded; ++i) {
            std::uint32_t& category = m_slots[base + static_cast<std::size_t>(i)].category;
            category = ids[category];
        }
    }
    m_slots.resize(base + static_cast<std::size_t>(loaded));

    const std::size_t mask = m_index.size() - 1;
    // Cells fetched ahead of their look-up: without it the same load took 15.3 ms, not 13.2.
    constexpr std::size_t kAhead = 16;
    for (std::size_t p = base; p < m_slots.size(); ++p) {
        if (p + kAhead < m_slots.size())
            __builtin_prefetch(&m_index[m_slots[p + kAhead].keyHash & mask]);
        // One walk of the probe sequence both looks for an earlier holder of the key and ends at
        // the free cell the position goes to: almost always the first cell looked at.
        const std::uint32_t hash = m_slots[p].keyHash;
        std::size_t cell = hash & mask;
        bool sameHash = false;
        for (; m_index[cell].position >= 0; cell = (cell + 1) & mask)
            sameHash = sameHash || m_index[cell].keyHash == hash;
        const int position = static_cast<int>(p);
        const int held = sameHash ? findHashed(hash, [&] { return keyAt(position); }) : -1;
        if (held >= 0) {
            if (!replaceHeld(held)) {
                markRemoved(position);
                continue;
            }
            markRemoved(held);
        }
        m_index[cell] = {hash, position};
    }
    return loaded;
}

void ItemTable::append(ItemRecord&& record)
{
    Slot s{};
    s.keyHash = ItemKeyHash(FieldBytes(record.Url));
    s.category = m_categories.intern(FieldBytes(record.Category));
    s.state = record.State;
    s.source = keep(std::move(record));
    m_slots.push_back(s);
    index(size() - 1);
}

void ItemTable::markRemoved(int position)
{
    m_slots[static_cast<std::size_t>(position)].removed = true;
    m_anyMarked = true;
}

std::vector<int> ItemTable::dropMarked()
{
    std::vector<int> removed;
    if (!std::exchange(m_anyMarked, false))
        return removed;
    std::vector<bool> doomed(m_slots.size());
    for (int position = 0; position < size(); ++position) {
        if (slot(position).removed) {
            doomed[static_cast<std::size_t>(position)] = true;
            removed.push_back(position);
        }
    }
    remove(doomed);
    return removed;
}

std::vector<int> ItemTable::dropUnreadable()
{
    if (!logChanged())
        return {};
    for (int position = 0; position < size(); ++position) {
        if (isLogged(slot(position)))
            markRemoved(position);
    }
    m_log.reset();
    forgetLastRead();
    return dropMarked();
}

void ItemTable::replace(int position, ItemRecord&& record)
{
    Slot& s = m_slots[static_cast<std::size_t>(position)];
    const std::uint32_t hash = ItemKeyHash(FieldBytes(record.Url));
    s.category = m_categories.intern(FieldBytes(record.Category));
    s.state = record.State;
    if (isLogged(s))
        s.source = keep(std::move(record));
    else
        m_owned[static_cast<std::size_t>(~s.source)] = std::move(record);
    if (hash != s.keyHash) {
        s.keyHash = hash;
        rebuildIndex(); // its cell is under the old hash
    }
}

void ItemTable::setState(int position, char state)
{
    ItemRecord record = at(position);
    record.State = state;
    replace(position, std::move(record));
}

void ItemTable::remove(const std::vector<bool>& doomed)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (doomed[i])
            release(m_slots[i]);
        else
            m_slots[kept++] = m_slots[i];
    }
    m_slots.resize(kept);
    rebuildIndex(); // the positions moved
}

void ItemTable::clear()
{
    m_slots = {};
    m_owned = {};
    m_freeOwned = {};
    m_categories = NameTable();
    m_log.reset();
    m_anyMarked = false;
    rebuildIndex();
    forgetLastRead();
    m_toldLogChanged = false;
}

void ItemTable::forgetLastRead()
{
    const std::lock_guard lock(m_lastRead.mutex);
    m_lastRead.number = -1;
    m_lastRead.record = {};
}

ItemSnapshot ItemTable::snapshot() const
{
    ItemSnapshot snapshot;
    snapshot.m_log = m_log;
    snapshot.m_sources.resize(m_slots.size());
    for (int position = 0; position < size(); ++position) {
        const Slot& s = slot(position);
        if (isLogged(s)) {
            snapshot.m_sources[static_cast<std::size_t>(position)] = s.source;
            continue;
        }
        snapshot.m_sources[static_cast<std::size_t>(position)] =
            ~static_cast<std::int32_t>(snapshot.m_owned.size());
        snapshot.m_owned.push_back(owned(s));
    }
    return snapshot;
}

void ItemSnapshot::forEachInMemory(const std::function<void(int, const ItemRecord&)>& visit) const
{
    for (int position = 0; position < size(); ++position) {
        if (const std::int32_t source = m_sources[static_cast<std::size_t>(position)]; source < 0)
            visit(position, m_owned[static_cast<std::size_t>(~source)]);
    }
}

bool ItemSnapshot::storedBytes(const std::function<bool(QByteArrayView)>& write,
                               bool onlyInMemory) const
{
    std::vector<StoredItemRecord> piece;
    piece.reserve(kRecordsPerPiece);
    const auto flush = [&] {
        const bool written =
            write(QByteArrayView(reinterpret_cast<const char*>(piece.data()),
                                 static_cast<qsizetype>(piece.size() * sizeof(StoredItemRecord))));
        piece.clear();
        return written;
    };
    const auto sourceAt = [this](int position) {
        return m_sources[static_cast<std::size_t>(position)];
    };
    for (int position = 0; position < size();) {
        if (piece.size() == kRecordsPerPiece && !flush())
            return false;
        const std::int32_t source = sourceAt(position);
        if (source < 0) {
            piece.push_back(ToStored(m_owned[static_cast<std::size_t>(~source)]));
            ++position;
            continue;
        }
        // A run of records that follow each other in the log is read in one go.
        int run = 1;
        while (piece.size() + static_cast<std::size_t>(run) < kRecordsPerPiece &&
               position + run < size() && sourceAt(position + run) == source + run)
            ++run;
        position += run;
        if (onlyInMemory)
            continue;
        const std::size_t at = piece.size();
        piece.resize(at + static_cast<std::size_t>(run));
        if (!m_log->read(source, run, reinterpret_cast<char*>(piece.data() + at)))
            return false;
    }
    return flush();
}
