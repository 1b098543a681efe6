#pragma once

#include "records.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <type_traits>

// The logs keep every field in a fixed width, cut to fit. Beside each log a companion file
// ("<log>.long") keeps the whole value of every field that was cut. A save writes the new
// companion as "<log>.long.next", then the log, then renames the new companion over the old one,
// each step atomic: whatever moment a crash or a full disk stops it at, one of the two companions
// matches the log that is there, and the reader picks that one. A log without its companion
// loads as it always did. Each value names the record it belongs to by position and by a digest
// of the record's stored bytes; a companion that matches no log (an older program saved the log
// alone) still gives each value to the record whose stored bytes its digest names.

/// The whole value of one field of one record.
struct WholeValue
{
    int record = 0;    ///< position in the log
    QByteArray digest; ///< of the record's stored bytes
    QByteArray field;  ///< the field's name, as in the record
    QByteArray value;  ///< the whole value's bytes
};

// The side store ("<log>.meta") keeps what the program knows of each item beyond the log's fields
// (ItemExtras) in the same form, one value named "extras" per item, and is saved and chosen by the
// same rule as the companion.

/// The two files kept beside a log.
enum class SideFile
{
    LongFields, ///< the companion: whole values of cut fields
    Extras,     ///< the side store: what the log has no field for
};

/// The companion file's path for a log.
QString CompanionPath(const QString& logPath);
/// Where a save writes the new companion until the log it belongs to is in place.
QString NextCompanionPath(const QString& logPath);
/// The same two paths for either side file.
QString SideFilePath(const QString& logPath, SideFile kind);
QString NextSideFilePath(const QString& logPath, SideFile kind);

/// Digest of a record's stored bytes.
QByteArray StoredRecordDigest(QByteArrayView storedBytes);

/// The companion's text for a log of `recordCount` records.
QByteArray EncodeCompanion(qint64 recordCount, const QList<WholeValue>& values,
                           SideFile kind = SideFile::LongFields);

/// The longest value a side file may hold: far beyond any field's, small enough that no value
/// can make reading the file cost much more memory than the file itself.
inline constexpr qsizetype kLongestWholeValue = qsizetype(2) << 20;

/// What a companion's text holds.
struct CompanionContents
{
    bool readable = false;   ///< the text is a companion this program wrote, undamaged
    qint64 recordCount = -1; ///< of the log it was written for
    QList<WholeValue> values;
    bool tooLong = false; ///< it held a value over kLongestWholeValue, which was refused
};

/// The values of a companion's text, in the order written. A damaged entry (a record position
/// that is no whole number or beyond the log, a field no record has, no value, a value over
/// kLongestWholeValue) is left out and makes the whole text unreadable: only values whose
/// digest names their record's stored bytes are then taken, and the file is kept aside.
CompanionContents DecodeCompanion(QByteArrayView text, SideFile kind = SideFile::LongFields);

/// The item's extras as the side store's value for it; none when they are all defaults.
QList<WholeValue> ExtrasValuesOf(const ItemRecord& record, int position);
/// Gives the item the extras of a side store value meant for it (digest checked already).
void RestoreExtras(ItemRecord& record, const QList<WholeValue>& values);

/// Calls `visit(name, field)` for each text field of an item or category record.
template <typename Record, typename Visit>
void ForEachTextField(Record& record, Visit&& visit)
{
    if constexpr (std::is_same_v<std::remove_const_t<Record>, ItemRecord>) {
        visit("url", record.Url);
        visit("category", record.Category);
        visit("folder", record.Folder);
        visit("fileName", record.FileName);
        visit("comment", record.Comment);
    } else {
        static_assert(std::is_same_v<std::remove_const_t<Record>, CategoryRecord>);
        visit("name", record.Name);
        visit("folder", record.Folder);
    }
}

/// Digest of a record's bytes as its log stores them.
template <typename Record>
QByteArray RecordDigest(const Record& record)
{
    const auto stored = ToStored(record);
    return StoredRecordDigest(
        QByteArrayView(reinterpret_cast<const char*>(&stored), sizeof stored));
}

/// The whole values of the record's cut fields, for the companion.
template <typename Record>
QList<WholeValue> CutValuesOf(const Record& record, int position)
{
    QList<WholeValue> values;
    ForEachTextField(record, [&](const char* name, const auto& field) {
        if (field.isCut())
            values.append({position, {}, name, field.whole});
    });
    if (!values.isEmpty()) {
        const QByteArray digest = RecordDigest(record);
        for (WholeValue& value : values)
            value.digest = digest;
    }
    return values;
}

/// Gives the record the whole values whose digest was checked against its stored bytes already,
/// each when the stored field is its cut. Returns how many were taken.
template <typename Record>
int RestoreCheckedValues(Record& record, const QList<WholeValue>& values)
{
    int taken = 0;
    for (const WholeValue& value : values) {
        ForEachTextField(record, [&](const char* name, auto& field) {
            if (value.field == name && RestoreWholeValue(field, value.value))
                ++taken;
        });
    }
    return taken;
}

/// Gives the record the whole values meant for it: those whose digest matches its stored bytes
/// and whose value the stored field is the cut of. Returns how many were taken.
template <typename Record>
int RestoreWholeValues(Record& record, QByteArrayView storedBytes, const QList<WholeValue>& values)
{
    if (values.isEmpty() || values.first().digest != StoredRecordDigest(storedBytes))
        return 0;
    return RestoreCheckedValues(record, values);
}
