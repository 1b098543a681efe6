#include "cataloguestore.h"

#include "atomicwrite.h"
#include "catalogue.h"
#include "companionfile.h"

#include <cstring>
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

/// The whole values the log's companion holds for a log of `recordCount` records, by position.
QHash<int, QList<WholeValue>> readCompanion(const QString& logPath, qint64 recordCount)
{
    QFile file(CompanionPath(logPath));
    // Only a regular file: a FIFO or device under that name must not hold the load.
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    return DecodeCompanion(file.readAll(), recordCount);
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
    const QHash<int, QList<WholeValue>> wholeValues = readCompanion(log.path, result.announced);
    reserve(static_cast<int>(count));
    Stored stored;
    for (qint64 i = 0; i < count; ++i) {
        const uchar* bytes = data + kHeaderSize + i * static_cast<qint64>(sizeof(Stored));
        std::memcpy(&stored, bytes, sizeof stored);
        Record record = FromStored(stored);
        if (const auto values = wholeValues.constFind(static_cast<int>(i));
            values != wholeValues.cend())
            RestoreWholeValues(record,
                               QByteArrayView(reinterpret_cast<const char*>(bytes), sizeof stored),
                               *values);
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

bool CatalogueStore::keepOriginalAside(Log& log, QString* error)
{
    if (!log.keepOriginal || !QFile::exists(log.path)) {
        log.keepOriginal = false;
        return true;
    }
    // Never replace an earlier copy: it may hold what this one lacks.
    QString copy = UnreadableCopyPath(log.path);
    for (int n = 2; QFile::exists(copy); ++n)
        copy = UnreadableCopyPath(log.path) + u'.' + QString::number(n);
    if (!QFile::copy(log.path, copy)) {
        if (error)
            *error = CannotCreateFileMessage(copy);
        return false;
    }
    log.keepOriginal = false;
    return true;
}

template <typename Record>
bool CatalogueStore::saveLog(Log& log, const char* tag, const std::vector<Record>& records,
                             QString* error)
{
    if (!keepOriginalAside(log, error))
        return false;
    using Stored = decltype(ToStored(std::declval<Record>()));
    const QByteArray header = logHeader(tag, static_cast<qsizetype>(records.size()));
    QByteArray body(static_cast<qsizetype>(records.size() * sizeof(Stored)), Qt::Uninitialized);
    QList<WholeValue> wholeValues;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Stored stored = ToStored(records[i]);
        std::memcpy(body.data() + i * sizeof(Stored), &stored, sizeof stored);
        wholeValues << CutValuesOf(records[i], static_cast<int>(i));
    }
    // The companion goes first: a crash before the log follows leaves values whose digests the
    // old log's records do not match, and those are ignored.
    const QString companion = CompanionPath(log.path);
    if (!wholeValues.isEmpty()) {
        const QByteArray text = EncodeCompanion(static_cast<qint64>(records.size()), wholeValues);
        if (!WriteFileAtomically(companion, {text}, error))
            return false;
    }
    if (!WriteFileAtomically(log.path, {header, body}, error))
        return false;
    if (wholeValues.isEmpty() && QFile::exists(companion))
        QFile::remove(companion);
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
        if (!log->result.existed || log->result.whole)
            continue;
        lines << QStringLiteral("\"%1\" could not be read whole: %2 of its records were loaded. "
                                "The file will be kept as \"%3\" when the catalogue is saved.")
                     .arg(QDir::toNativeSeparators(log->path))
                     .arg(log->result.loaded)
                     .arg(QDir::toNativeSeparators(UnreadableCopyPath(log->path)));
    }
    return lines.join(u'\n');
}
