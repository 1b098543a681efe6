#pragma once

#include "records.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <type_traits>

// The logs keep every field in a fixed width, cut to fit. Beside each log a companion file
// ("<log>.long") keeps the whole value of every field that was cut. It is written before its
// log, each atomically; a log without its companion loads as it always did. Each value names the
// record it belongs to by position and by a digest of the record's stored bytes, and is taken
// only when both still match: a companion left from another version of its log (a crash between
// the two writes, an older program that saved the log alone) is never trusted blindly.

/// The whole value of one field of one record.
struct WholeValue
{
    int record = 0;    ///< position in the log
    QByteArray digest; ///< of the record's stored bytes
    QByteArray field;  ///< the field's name, as in the record
    QByteArray value;  ///< the whole value's bytes
};

/// The companion file's path for a log.
QString CompanionPath(const QString& logPath);

/// Digest of a record's stored bytes.
QByteArray StoredRecordDigest(QByteArrayView storedBytes);

/// The companion's text for a log of `recordCount` records.
QByteArray EncodeCompanion(qint64 recordCount, const QList<WholeValue>& values);

/// The values of a companion written for a log of `recordCount` records, by record position.
/// Empty when the text is not a companion or was written for a log of another length.
QHash<int, QList<WholeValue>> DecodeCompanion(QByteArrayView text, qint64 recordCount);

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
        const auto stored = ToStored(record);
        const QByteArray digest = StoredRecordDigest(
            QByteArrayView(reinterpret_cast<const char*>(&stored), sizeof stored));
        for (WholeValue& value : values)
            value.digest = digest;
    }
    return values;
}

/// Gives the record the whole values meant for it: those whose digest matches its stored bytes
/// and whose value the stored field is the cut of. Returns how many were taken.
template <typename Record>
int RestoreWholeValues(Record& record, QByteArrayView storedBytes, const QList<WholeValue>& values)
{
    if (values.isEmpty() || values.first().digest != StoredRecordDigest(storedBytes))
        return 0;
    int taken = 0;
    for (const WholeValue& value : values) {
        ForEachTextField(record, [&](const char* name, auto& field) {
            if (value.field == name && RestoreWholeValue(field, value.value))
                ++taken;
        });
    }
    return taken;
}
