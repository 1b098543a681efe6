#include "cataloguestore.h"

#include "atomicwrite.h"
#include "catalogue.h"
#include "companionfile.h"
#include "itemtable.h"
#include "regularfile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kHeaderSize = StoredLog::kHeaderSize;
constexpr char kItemsTag[] = "clipvault";
constexpr char kCategoriesTag[] = "category";
/// Far more than any catalogue's side file; what is larger is no side file of ours.
constexpr qint64 kMaxCompanionBytes = qint64(256) << 20;

QByteArray logHeader(const char* tag, qsizetype count)
{
    QByteArray header(kHeaderSize, '\0');
    std::memcpy(header.data(), tag, std::strlen(tag));
    qToLittleEndian<qint32>(static_cast<qint32>(count), header.data() + 12);
    return header;
}

/// A companion file's contents; nothing when there is no regular file under its name (a FIFO or
/// device there must not hold the load). `present` tells whether a file was there at all.
CompanionContents readCompanionFile(const QString& path, SideFile kind, bool* present = nullptr)
{
    if (present)
        *present = QFileInfo(path).exists() || QFileInfo(path).isSymLink();
    // Bounded: a FIFO, a device or an absurd file under its name never holds the load.
    const std::optional<QByteArray> bytes = ReadRegularFile(path, kMaxCompanionBytes);
    return bytes ? DecodeCompanion(*bytes, kind) : CompanionContents{};
}

/// The whole values that go with a log just read.
struct ChosenValues
{
    QHash<int, QList<WholeValue>> byRecord;        ///< checked against the record at the position
    QHash<QByteArray, QList<WholeValue>> byDigest; ///< of a companion that matches no log
    bool unreadable = false; ///< the companion beside the log is damaged or for another log
    bool tooLong = false;    ///< a value over kLongestWholeValue was refused
};

/// Values grouped by record position when each record of the log (`digestAt`) is the one the
/// values name and the companion was written for a log of `recordCount` records; else nothing.
template <typename DigestAt>
std::optional<QHash<int, QList<WholeValue>>> matchingValues(const CompanionContents& companion,
                                                            qint64 recordCount, qint64 readable,
                                                            DigestAt&& digestAt)
{
    if (!companion.readable || companion.recordCount != recordCount)
        return std::nullopt;
    QHash<int, QList<WholeValue>> byRecord;
    for (const WholeValue& value : companion.values) {
        QList<WholeValue>& values = byRecord[value.record];
        if (values.isEmpty() &&
            (value.record >= readable || digestAt(value.record) != value.digest))
            return std::nullopt;
        if (values.isEmpty() || values.first().digest == value.digest)
            values.append(value);
        else
            return std::nullopt;
    }
    return byRecord;
}

/// Picks the companion written for the log that was read: the new one a save left before it
/// could rename it, else the usual one. When neither matches, each value still goes to a record
/// whose stored bytes its digest names, and the companion is reported unreadable.
template <typename DigestAt>
ChosenValues chooseCompanion(const QString& logPath, SideFile kind, qint64 recordCount,
                             qint64 readable, DigestAt&& digestAt)
{
    ChosenValues chosen;
    bool present = false;
    const CompanionContents next = readCompanionFile(NextSideFilePath(logPath, kind), kind);
    const CompanionContents current =
        readCompanionFile(SideFilePath(logPath, kind), kind, &present);
    chosen.tooLong = current.tooLong;
    for (const CompanionContents* companion : {&next, &current}) {
        if (auto byRecord = matchingValues(*companion, recordCount, readable, digestAt)) {
            chosen.byRecord = std::move(*byRecord);
            return chosen;
        }
    }
    chosen.unreadable = present;
    for (const CompanionContents* companion : {&current, &next}) {
        for (const WholeValue& value : companion->values)
            chosen.byDigest[value.digest].append(value);
    }
    return chosen;
}

/// The values a chosen side file holds for the record at `i`.
template <typename DigestAt>
QList<WholeValue> valuesFor(const ChosenValues& chosen, qint64 i, DigestAt&& digestAt)
{
    if (const auto values = chosen.byRecord.constFind(static_cast<int>(i));
        values != chosen.byRecord.cend())
        return *values;
    if (chosen.byDigest.isEmpty())
        return {};
    return chosen.byDigest.value(digestAt(i));
}

/// A name for a copy of `path` kept aside that no earlier copy has: it may hold what this
/// one lacks.
QString freeUnreadableCopyPath(const QString& path)
{
    QString copy = UnreadableCopyPath(path);
    for (int n = 2; QFile::exists(copy); ++n)
        copy = UnreadableCopyPath(path) + u'.' + QString::number(n);
    return copy;
}

/// What identifies the file at `path` now. Its header is read only from a regular file, opened
/// without following a link or blocking.
CatalogueStore::DiskState diskStateOf(const QString& path)
{
    CatalogueStore::DiskState state;
    const QByteArray name = QFile::encodeName(path);
    struct stat info
    {
    };
    if (::lstat(name.constData(), &info) != 0)
        return state;
    state.present = true;
    state.device = info.st_dev;
    state.inode = info.st_ino;
    state.size = info.st_size;
    state.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    if (!S_ISREG(info.st_mode))
        return state;
    const int handle = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0)
        return state;
    QByteArray header(kHeaderSize, '\0');
    const ssize_t got = ::pread(handle, header.data(), kHeaderSize, 0);
    header.resize(got > 0 ? got : 0);
    state.header = header;
    ::close(handle);
    return state;
}

/// A name beside `path` for the program's own view of a log another program changed, dated,
/// that no earlier one has.
QString freeKeptPath(const QString& path)
{
    const QString day = QDate::currentDate().toString(Qt::ISODate);
    QString kept = QStringLiteral("%1.%2.kept").arg(path, day);
    for (int n = 2; QFileInfo::exists(kept) || QFileInfo(kept).isSymLink(); ++n)
        kept = QStringLiteral("%1.%2.%3.kept").arg(path, day).arg(n);
    return kept;
}

/// Renames `from` over `to` in one step, as the system does it.
bool replaceFile(const QString& from, const QString& to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

QString UnreadableCopyPath(const QString& logPath)
{
    return logPath + QStringLiteral(".unreadable");
}

CatalogueStore::CatalogueStore(const QString& dataFolder)
{
    m_items.path = QDir(dataFolder).filePath(QStringLiteral("downloading.log"));
    m_items.contents = QStringLiteral("items");
    m_categories.path = QDir(dataFolder).filePath(QStringLiteral("category.log"));
    m_categories.contents = QStringLiteral("categories");
}

bool CatalogueStore::changedByAnother(const Log& log)
{
    const DiskState now = diskStateOf(log.path);
    return now.present && now != log.seen;
}

void CatalogueStore::keepBeside(Log& log, qint64 lost)
{
    if (!log.keptPath.isEmpty())
        return;
    log.keptPath = freeKeptPath(log.path);
    log.lost = lost;
    log.noticeDue = true;
    // Nothing at the log's name is touched from now on, nor copied aside: it is the other
    // program's.
    log.keepOriginal = false;
    log.keepSide[0] = log.keepSide[1] = false;
}

QString CatalogueStore::takeKeptNotice()
{
    QStringList notices;
    for (Log* log : {&m_items, &m_categories}) {
        if (!log->keptNotice.isEmpty())
            notices << std::exchange(log->keptNotice, QString());
    }
    return notices.join(u'\n');
}

template <typename Record, typename Sink>
LogLoadResult CatalogueStore::readLog(Log& log, Sink& sink)
{
    using Stored = decltype(ToStored(std::declval<Record>()));
    LogLoadResult result;
    auto file = std::make_unique<QFile>(log.path);
    if (!file->exists())
        return result;
    result.existed = true;
    result.whole = false;
    log.keepOriginal = true; // until proven whole

    // Only a regular file is read: a FIFO or device under the log's name must not hold the load.
    if (!QFileInfo(*file).isFile() || !file->open(QIODevice::ReadOnly))
        return result;
    const auto stored = std::make_shared<StoredLog>(std::move(file), sizeof(Stored));
    const QByteArray header = stored->header();
    if (header.size() < kHeaderSize)
        return result;

    result.announced = qFromLittleEndian<qint32>(header.constData() + 12);
    const qint64 readable = stored->readableRecords();
    const qint64 count = result.announced < 0 ? 0 : std::min(result.announced, readable);
    const auto digestOf = [](const Stored& record) {
        return StoredRecordDigest(
            QByteArrayView(reinterpret_cast<const char*>(&record), sizeof record));
    };
    const auto digestAt = [&](qint64 i) {
        Stored record{};
        stored->read(i, 1, reinterpret_cast<char*>(&record));
        return digestOf(record);
    };
    constexpr bool isItem = std::is_same_v<Record, ItemRecord>;
    std::array<ChosenValues, 2> sides;
    for (const SideFile kind : {SideFile::LongFields, SideFile::Extras}) {
        if (kind == SideFile::Extras && !isItem)
            continue;
        ChosenValues& chosen = sides[static_cast<int>(kind)];
        chosen = chooseCompanion(log.path, kind, result.announced, count, digestAt);
        log.keepSide[static_cast<int>(kind)] = chosen.unreadable;
    }
    result.companionUnreadable = sides[0].unreadable;
    result.extrasUnreadable = sides[1].unreadable;
    result.valueRefused = sides[0].tooLong || sides[1].tooLong;
    const bool anyValues = std::any_of(sides.cbegin(), sides.cend(), [](const ChosenValues& side) {
        return !side.byRecord.isEmpty() || !side.byDigest.isEmpty();
    });

    // The log is read in pieces: a large log is never copied whole. A file cut meanwhile keeps
    // what was read, and the log counts as not whole.
    sink.begin(stored, count);
    if (!anyValues) {
        result.loaded = static_cast<int>(sink.addAll(*stored, count));
    } else {
        stored->readInPieces(0, count, [&](qint64 first, const char* data, qint64 n) {
            const auto* piece = reinterpret_cast<const Stored*>(data);
            for (qint64 k = 0; k < n; ++k, ++result.loaded) {
                const Stored& bytes = piece[k];
                // Values are found before the record changes: each side file names its stored
                // bytes.
                const auto digest = [&](qint64) {
                    return digestOf(bytes);
                };
                const QList<WholeValue> whole = valuesFor(sides[0], first + k, digest);
                const QList<WholeValue> extras = valuesFor(sides[1], first + k, digest);
                if (whole.isEmpty() && extras.isEmpty()) {
                    sink.addStored(first + k, bytes);
                    continue;
                }
                Record record = FromStored(bytes);
                if constexpr (isItem)
                    RestoreExtras(record, extras);
                // A value its field's stored text is no cut of is damage, as a damaged entry
                // is: the companion is kept aside before the next save leaves the value out.
                if (RestoreCheckedValues(record, whole) < whole.size())
                    result.companionUnreadable = log.keepSide[0] = true;
                sink.addRecord(std::move(record));
            }
        });
    }
    // Records beyond the announced count, or a piece of one, are not loaded: the file is then
    // not whole, and its original is kept aside before the first save replaces it.
    const bool exact = (stored->size() - kHeaderSize) % static_cast<qint64>(sizeof(Stored)) == 0;
    result.whole =
        result.announced >= 0 && result.announced == readable && exact && result.loaded == count;
    log.keepOriginal = !result.whole;
    return result;
}

LogLoadResult CatalogueStore::LoadItems(Catalogue& catalogue)
{
    if (!QFile::exists(m_items.path)) {
        m_items.result = {};
        m_items.seen = {};
        return m_items.result;
    }
    struct ItemSink
    {
        Catalogue& catalogue;
        void begin(std::shared_ptr<const StoredLog> log, qint64 count)
        {
            catalogue.beginItemsLoad(std::move(log), count);
        }
        qint64 addAll(const StoredLog&, qint64 count) { return catalogue.appendWholeLog(count); }
        void addStored(qint64 number, const StoredItemRecord& stored)
        {
            catalogue.appendLoggedItems(number, &stored, 1);
        }
        void addRecord(ItemRecord&& record) { catalogue.AppendItem(std::move(record)); }
    };
    catalogue.changeInBulk(Catalogue::List::Items, [&] {
        catalogue.clearItems();
        ItemSink sink{catalogue};
        m_items.result = readLog<ItemRecord>(m_items, sink);
        catalogue.endItemsLoad();
    });
    m_items.seen = diskStateOf(m_items.path);
    return m_items.result;
}

LogLoadResult CatalogueStore::LoadCategories(Catalogue& catalogue)
{
    struct CategorySink
    {
        Catalogue& catalogue;
        void begin(const std::shared_ptr<const StoredLog>&, qint64) {}
        qint64 addAll(const StoredLog& log, qint64 count)
        {
            return log.readInPieces(0, count, [&](qint64 first, const char* data, qint64 n) {
                for (qint64 i = 0; i < n; ++i)
                    addStored(first + i, reinterpret_cast<const StoredCategoryRecord*>(data)[i]);
            });
        }
        void addStored(qint64, const StoredCategoryRecord& stored)
        {
            catalogue.AddCategory(FromStored(stored));
        }
        void addRecord(CategoryRecord&& record) { catalogue.AddCategory(record); }
    };
    catalogue.changeInBulk(Catalogue::List::Categories, [&] {
        if (QFile::exists(m_categories.path)) {
            catalogue.clearCategories();
            CategorySink sink{catalogue};
            m_categories.result = readLog<CategoryRecord>(m_categories, sink);
        } else {
            m_categories.result = {};
            for (const QString& name : FirstRunCategoryNames())
                catalogue.AddCategory(CategoryNamed(name));
        }
        for (const QString& name : BuiltInCategoryNames())
            catalogue.AddCategory(CategoryNamed(name));
    });
    m_categories.seen = diskStateOf(m_categories.path);
    return m_categories.result;
}

bool CatalogueStore::keepAside(const QString& path, bool& keep, QString* error)
{
    if (!keep || !QFile::exists(path)) {
        keep = false;
        return true;
    }
    // Only a regular file holds anything of the user's: a FIFO or device under the name is left
    // to be replaced, never opened in a way that could hold the save.
    if (!QFileInfo(path).isFile()) {
        keep = false;
        return true;
    }
    const QString copy = freeUnreadableCopyPath(path);
    if (!QFile::copy(path, copy)) {
        if (error)
            *error = CannotCreateFileMessage(copy);
        return false;
    }
    keep = false;
    return true;
}

bool CatalogueStore::saveLog(Log& log, const char* tag, qint64 count,
                             const std::function<bool(const WriteBytes&)>& body,
                             const std::array<QList<WholeValue>, 2>& values, QString* error)
{
    const QString target = log.target();
    if (!keepAside(target, log.keepOriginal, error))
        return false;
    for (const SideFile kind : {SideFile::LongFields, SideFile::Extras}) {
        if (!keepAside(SideFilePath(target, kind), log.keepSide[static_cast<int>(kind)], error))
            return false;
    }
    const QByteArray header = logHeader(tag, static_cast<qsizetype>(count));
    // The old side files stay until the new log is in place, so that each log on disk always
    // has its own beside it. One with no values still replaces the old one before it goes: an
    // old one left beside the new log would match nothing.
    std::array<bool, 2> needed{};
    for (const SideFile kind : {SideFile::LongFields, SideFile::Extras}) {
        const int k = static_cast<int>(kind);
        needed[k] = !values[k].isEmpty() || QFile::exists(SideFilePath(target, kind));
        const QString next = NextSideFilePath(target, kind);
        if (!needed[k]) {
            QFile::remove(next);
            continue;
        }
        const QByteArray text = EncodeCompanion(count, values[k], kind);
        if (!WriteFileAtomically(next, {text}, error))
            return false;
    }
    // The records are written as they are read: a large catalogue is never held twice.
    if (!WriteFileAtomically(
            target, [&](const WriteBytes& write) { return write(header) && body(write); }, error))
        return false;
    for (const SideFile kind : {SideFile::LongFields, SideFile::Extras}) {
        const int k = static_cast<int>(kind);
        const QString side = SideFilePath(target, kind);
        if (needed[k] && !replaceFile(NextSideFilePath(target, kind), side)) {
            if (error)
                *error = CannotCreateFileMessage(side);
            return false;
        }
        if (values[k].isEmpty())
            QFile::remove(side);
    }
    if (log.keptPath.isEmpty())
        log.seen = diskStateOf(log.path);
    else if (std::exchange(log.noticeDue, false))
        log.keptNotice = keptNotice(log);
    return true;
}

QString CatalogueStore::keptNotice(const Log& log)
{
    QString notice =
        QStringLiteral("\"%1\" was changed by another program while Clip Vault had it open. Clip "
                       "Vault left it as it is and saved its own %2 beside it as \"%3\", and "
                       "saves them there until it is started again.")
            .arg(QDir::toNativeSeparators(log.path), log.contents,
                 QDir::toNativeSeparators(log.keptPath));
    if (log.lost > 0)
        notice += QStringLiteral(" The %1 items read from the file before the change could no "
                                 "longer be read and are not in it.")
                      .arg(log.lost);
    return notice;
}

bool CatalogueStore::SaveItems(const Catalogue& catalogue, QString* error)
{
    return SaveItems(catalogue.items().snapshot(), error);
}

bool CatalogueStore::SaveCategories(const Catalogue& catalogue, QString* error)
{
    return SaveCategories(catalogue.categories(), error);
}

bool CatalogueStore::SaveItems(const ItemSnapshot& items, QString* error)
{
    // Once another program changed the log in place, the records read from it are gone: the
    // program's own view is what it holds in memory.
    const bool onlyInMemory = items.logChanged();
    std::array<QList<WholeValue>, 2> values;
    qint64 inMemory = 0;
    // Only records held in memory can have whole values or extras: the log alone gave the rest.
    items.forEachInMemory([&](int position, const ItemRecord& record) {
        const int at = onlyInMemory ? static_cast<int>(inMemory) : position;
        values[0] << CutValuesOf(record, at);
        values[1] << ExtrasValuesOf(record, at);
        ++inMemory;
    });
    if (onlyInMemory || changedByAnother(m_items))
        keepBeside(m_items, onlyInMemory ? items.size() - inMemory : 0);

    bool readable = true;
    const bool saved = saveLog(
        m_items, kItemsTag, onlyInMemory ? inMemory : items.size(),
        [&](const WriteBytes& write) {
            bool written = true;
            // Records not changed since the load are copied from the log they came from.
            readable = items.storedBytes(
                [&](QByteArrayView bytes) { return written = written && write(bytes); },
                onlyInMemory);
            readable = readable || !written;
            return readable && written;
        },
        values, error);
    if (!readable && items.logChanged() && !onlyInMemory)
        return SaveItems(items, error); // changed while it was read: what the program holds
    if (!readable && error)
        *error = QStringLiteral("\"%1\" could not be read back to be saved.")
                     .arg(QDir::toNativeSeparators(m_items.path));
    return saved;
}

bool CatalogueStore::SaveCategories(const std::vector<CategoryRecord>& categories, QString* error)
{
    std::array<QList<WholeValue>, 2> values;
    for (std::size_t i = 0; i < categories.size(); ++i)
        values[0] << CutValuesOf(categories[i], static_cast<int>(i));
    if (changedByAnother(m_categories))
        keepBeside(m_categories, 0);
    return saveLog(
        m_categories, kCategoriesTag, static_cast<qint64>(categories.size()),
        [&](const WriteBytes& write) {
            for (const CategoryRecord& category : categories) {
                const StoredCategoryRecord stored = ToStored(category);
                if (!write(QByteArrayView(reinterpret_cast<const char*>(&stored), sizeof stored)))
                    return false;
            }
            return true;
        },
        values, error);
}

QString CatalogueStore::unreadableNotice() const
{
    QStringList lines;
    for (const Log* log : {&m_items, &m_categories}) {
        if (log->result.existed && !log->result.whole)
            lines << QStringLiteral(
                         "\"%1\" could not be read whole: %2 of its records were loaded. "
                         "The file will be kept as \"%3\" when the catalogue is saved.")
                         .arg(QDir::toNativeSeparators(log->path))
                         .arg(log->result.loaded)
                         .arg(QDir::toNativeSeparators(UnreadableCopyPath(log->path)));
        for (const SideFile kind : {SideFile::LongFields, SideFile::Extras}) {
            const bool unreadable = kind == SideFile::LongFields ? log->result.companionUnreadable
                                                                 : log->result.extrasUnreadable;
            if (!unreadable)
                continue;
            const QString side = SideFilePath(log->path, kind);
            lines << QStringLiteral("\"%1\" is damaged or belongs to another version of its log: "
                                    "only the %2 that still match their records were taken%4. The "
                                    "file will be kept as \"%3\" when the catalogue is saved.")
                         .arg(QDir::toNativeSeparators(side),
                              kind == SideFile::LongFields ? QStringLiteral("long values")
                                                           : QStringLiteral("items' details"),
                              QDir::toNativeSeparators(UnreadableCopyPath(side)),
                              log->result.valueRefused
                                  ? QStringLiteral(" (a value longer than 2 MiB was refused)")
                                  : QString());
        }
    }
    return lines.join(u'\n');
}
