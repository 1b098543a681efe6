#include "cataloguestore.h"

#include "atomicwrite.h"
#include "catalogue.h"
#include "companionfile.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <functional>
#include <utility>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace {

constexpr qint64 kHeaderSize = 16;
constexpr char kItemsTag[] = "clipvault";
constexpr char kCategoriesTag[] = "category";

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
    QFile file(path);
    if (present)
        *present = file.exists();
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    return DecodeCompanion(file.readAll(), kind);
}

/// The whole values that go with a log just read.
struct ChosenValues
{
    QHash<int, QList<WholeValue>> byRecord;        ///< checked against the record at the position
    QHash<QByteArray, QList<WholeValue>> byDigest; ///< of a companion that matches no log
    bool unreadable = false; ///< the companion beside the log is damaged or for another log
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
    m_categories.path = QDir(dataFolder).filePath(QStringLiteral("category.log"));
}

template <typename Record, typename Add>
LogLoadResult CatalogueStore::readLog(Log& log, Add&& add, const std::function<void(int)>& reserve)
{
    using Stored = decltype(ToStored(std::declval<Record>()));
    LogLoadResult result;
    QFile file(log.path);
    if (!file.exists())
        return result;
    result.existed = true;
    result.whole = false;
    log.keepOriginal = true; // until proven whole

    if (!file.open(QIODevice::ReadOnly))
        return result;
    const qint64 size = file.size();
    // Mapping spares a copy of a large log; a file system that cannot map falls back to reading.
    QByteArray buffer;
    const uchar* data = size > 0 ? file.map(0, size) : nullptr;
    if (!data) {
        buffer = file.readAll();
        data = reinterpret_cast<const uchar*>(buffer.constData());
    }
    const qint64 available = data ? (buffer.isNull() ? size : buffer.size()) : 0;
    if (available < kHeaderSize)
        return result;

    result.announced = qFromLittleEndian<qint32>(data + 12);
    const qint64 readable = (available - kHeaderSize) / static_cast<qint64>(sizeof(Stored));
    const qint64 count = result.announced < 0 ? 0 : std::min(result.announced, readable);
    const auto recordBytes = [&](qint64 i) {
        return QByteArrayView(reinterpret_cast<const char*>(
                                  data + kHeaderSize + i * static_cast<qint64>(sizeof(Stored))),
                              sizeof(Stored));
    };
    const auto digestAt = [&](qint64 i) {
        return StoredRecordDigest(recordBytes(i));
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
    reserve(static_cast<int>(count));
    Stored stored;
    for (qint64 i = 0; i < count; ++i) {
        std::memcpy(&stored, recordBytes(i).data(), sizeof stored);
        Record record = FromStored(stored);
        // Values are found before the record changes: each side file names its stored bytes.
        const QList<WholeValue> whole = valuesFor(sides[0], i, digestAt);
        if constexpr (isItem)
            RestoreExtras(record, valuesFor(sides[1], i, digestAt));
        RestoreCheckedValues(record, whole);
        add(std::move(record));
        ++result.loaded;
    }
    // Records beyond the announced count, or a piece of one, are not loaded: the file is then
    // not whole, and its original is kept aside before the first save replaces it.
    const bool exact = (available - kHeaderSize) % static_cast<qint64>(sizeof(Stored)) == 0;
    result.whole = result.announced >= 0 && result.announced == readable && exact;
    log.keepOriginal = !result.whole;
    return result;
}

LogLoadResult CatalogueStore::LoadItems(Catalogue& catalogue)
{
    if (!QFile::exists(m_items.path)) {
        m_items.result = {};
        return m_items.result;
    }
    catalogue.changeInBulk(Catalogue::List::Items, [&] {
        catalogue.clearItems();
        m_items.result = readLog<ItemRecord>(
            m_items, [&](ItemRecord&& record) { catalogue.AppendItem(std::move(record)); },
            [&](int count) { catalogue.reserveItems(count); });
    });
    return m_items.result;
}

LogLoadResult CatalogueStore::LoadCategories(Catalogue& catalogue)
{
    catalogue.changeInBulk(Catalogue::List::Categories, [&] {
        if (QFile::exists(m_categories.path)) {
            catalogue.clearCategories();
            m_categories.result = readLog<CategoryRecord>(
                m_categories, [&](CategoryRecord&& record) { catalogue.AddCategory(record); },
                [](int) {});
        } else {
            m_categories.result = {};
            for (const QString& name : FirstRunCategoryNames())
                catalogue.AddCategory(CategoryNamed(name));
        }
        for (const QString& name : BuiltInCategoryNames())
            catalogue.AddCategory(CategoryNamed(name));
    });
    return m_categories.result;
}

bool CatalogueStore::keepAside(const QString& path, bool& keep, QString* error)
{
    if (!keep || !QFile::exists(path)) {
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

template <typename Record>
bool CatalogueStore::saveLog(Log& log, const char* tag, const std::vector<Record>& records,
                             QString* error)
{
    if (!keepAside(log.path, log.keepOriginal, error))
        return false;
    for (const SideFile kind : {SideFile::LongFields, SideFile::Extras}) {
        if (!keepAside(SideFilePath(log.path, kind), log.keepSide[static_cast<int>(kind)], error))
            return false;
    }
    using Stored = decltype(ToStored(std::declval<Record>()));
    const QByteArray header = logHeader(tag, static_cast<qsizetype>(records.size()));
    QByteArray body(static_cast<qsizetype>(records.size() * sizeof(Stored)), Qt::Uninitialized);
    std::array<QList<WholeValue>, 2> values;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Stored stored = ToStored(records[i]);
        std::memcpy(body.data() + i * sizeof(Stored), &stored, sizeof stored);
        values[0] << CutValuesOf(records[i], static_cast<int>(i));
        if constexpr (std::is_same_v<Record, ItemRecord>)
            values[1] << ExtrasValuesOf(records[i], static_cast<int>(i));
    }
    // The old side files stay until the new log is in place, so that each log on disk always
    // has its own beside it. One with no values still replaces the old one before it goes: an
    // old one left beside the new log would match nothing.
    std::array<bool, 2> needed{};
    for (const SideFile kind : {SideFile::LongFields, SideFile::Extras}) {
        const int k = static_cast<int>(kind);
        needed[k] = !values[k].isEmpty() || QFile::exists(SideFilePath(log.path, kind));
        const QString next = NextSideFilePath(log.path, kind);
        if (!needed[k]) {
            QFile::remove(next);
            continue;
        }
        const QByteArray text =
            EncodeCompanion(static_cast<qint64>(records.size()), values[k], kind);
        if (!WriteFileAtomically(next, {text}, error))
            return false;
    }
    if (!WriteFileAtomically(log.path, {header, body}, error))
        return false;
    for (const SideFile kind : {SideFile::LongFields, SideFile::Extras}) {
        const int k = static_cast<int>(kind);
        const QString side = SideFilePath(log.path, kind);
        if (needed[k] && !replaceFile(NextSideFilePath(log.path, kind), side)) {
            if (error)
                *error = CannotCreateFileMessage(side);
            return false;
        }
        if (values[k].isEmpty())
            QFile::remove(side);
    }
    return true;
}

bool CatalogueStore::SaveItems(const Catalogue& catalogue, QString* error)
{
    return saveLog(m_items, kItemsTag, catalogue.items(), error);
}

bool CatalogueStore::SaveCategories(const Catalogue& catalogue, QString* error)
{
    return saveLog(m_categories, kCategoriesTag, catalogue.categories(), error);
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
                                    "only the %2 that still match their records were taken. The "
                                    "file will be kept as \"%3\" when the catalogue is saved.")
                         .arg(QDir::toNativeSeparators(side),
                              kind == SideFile::LongFields ? QStringLiteral("long values")
                                                           : QStringLiteral("items' details"),
                              QDir::toNativeSeparators(UnreadableCopyPath(side)));
        }
    }
    return lines.join(u'\n');
}
