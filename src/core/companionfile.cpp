#include "companionfile.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <optional>

namespace {

QLatin1String formatOf(SideFile kind)
{
    return kind == SideFile::LongFields ? QLatin1String("clipvault-long-fields-1")
                                        : QLatin1String("clipvault-item-extras-1");
}

/// The value as JSON text when it is valid UTF-8; other bytes travel as base64 so that none is
/// changed on the way.
void putValue(QJsonObject& object, const QByteArray& value)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(value);
    if (decoder.hasError())
        object.insert(QStringLiteral("base64"), QString::fromLatin1(value.toBase64()));
    else
        object.insert(QStringLiteral("text"), text);
}

/// The entry's value; nothing when it has none.
std::optional<QByteArray> takeValue(const QJsonObject& object)
{
    if (const QJsonValue base64 = object.value(QStringLiteral("base64")); base64.isString())
        return QByteArray::fromBase64(base64.toString().toLatin1());
    if (const QJsonValue text = object.value(QStringLiteral("text")); text.isString())
        return text.toString().toUtf8();
    return std::nullopt;
}

/// Whether the JSON text has a string longer than any value kLongestWholeValue allows, however
/// it is written (six bytes a character at worst, as "\u0001"): such a text is refused before it
/// is parsed, which would cost many times its size.
bool holdsOverlongString(QByteArrayView text)
{
    constexpr qsizetype kLongestToken = 6 * kLongestWholeValue + 2;
    qsizetype start = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (start < 0) {
            if (c == '"')
                start = i;
            continue;
        }
        if (c == '\\')
            ++i;
        else if (c == '"')
            start = -1;
        else if (i - start > kLongestToken)
            return true;
    }
    return start >= 0 && text.size() - start > kLongestToken;
}

/// The names of the fields a side file's values may belong to.
bool isKnownField(QByteArrayView field, SideFile kind)
{
    if (kind == SideFile::Extras)
        return field == "extras";
    bool known = false;
    const auto check = [&](const char* name, const auto&) {
        known = known || field == name;
    };
    ItemRecord item;
    ForEachTextField(item, check);
    CategoryRecord category;
    ForEachTextField(category, check);
    return known;
}

/// The entry's record position when it is a whole number within the log.
std::optional<int> recordOf(const QJsonObject& object, qint64 recordCount)
{
    const QJsonValue value = object.value(QStringLiteral("record"));
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number >= static_cast<double>(recordCount) ||
        number != static_cast<double>(static_cast<qint64>(number)))
        return std::nullopt;
    return static_cast<int>(number);
}

} // namespace

QString CompanionPath(const QString& logPath)
{
    return logPath + QStringLiteral(".long");
}

QString NextCompanionPath(const QString& logPath)
{
    return CompanionPath(logPath) + QStringLiteral(".next");
}

QString SideFilePath(const QString& logPath, SideFile kind)
{
    return kind == SideFile::LongFields ? CompanionPath(logPath)
                                        : logPath + QStringLiteral(".meta");
}

QString NextSideFilePath(const QString& logPath, SideFile kind)
{
    return SideFilePath(logPath, kind) + QStringLiteral(".next");
}

QByteArray StoredRecordDigest(QByteArrayView storedBytes)
{
    return QCryptographicHash::hash(storedBytes, QCryptographicHash::Sha1).toHex();
}

QByteArray EncodeCompanion(qint64 recordCount, const QList<WholeValue>& values, SideFile kind)
{
    QJsonArray entries;
    for (const WholeValue& value : values) {
        QJsonObject entry{{QStringLiteral("record"), value.record},
                          {QStringLiteral("digest"), QString::fromLatin1(value.digest)},
                          {QStringLiteral("field"), QString::fromLatin1(value.field)}};
        putValue(entry, value.value);
        entries.append(entry);
    }
    const QJsonObject root{{QStringLiteral("format"), formatOf(kind)},
                           {QStringLiteral("records"), recordCount},
                           {QStringLiteral("values"), entries}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

CompanionContents DecodeCompanion(QByteArrayView text, SideFile kind)
{
    CompanionContents contents;
    if (holdsOverlongString(text)) {
        contents.tooLong = true;
        return contents;
    }
    const QJsonObject root = QJsonDocument::fromJson(text.toByteArray()).object();
    if (root.value(QStringLiteral("format")).toString() != formatOf(kind))
        return contents;
    contents.recordCount = root.value(QStringLiteral("records")).toInteger(-1);
    contents.readable = contents.recordCount >= 0;
    const QJsonArray entries = root.value(QStringLiteral("values")).toArray();
    for (const QJsonValue& entry : entries) {
        const QJsonObject object = entry.toObject();
        const std::optional<int> record = recordOf(object, contents.recordCount);
        const QByteArray field = object.value(QStringLiteral("field")).toString().toLatin1();
        const QJsonValue digest = object.value(QStringLiteral("digest"));
        std::optional<QByteArray> value = takeValue(object);
        const bool tooLong = value && value->size() > kLongestWholeValue;
        contents.tooLong = contents.tooLong || tooLong;
        if (!record || !isKnownField(field, kind) || !digest.isString() || !value || tooLong) {
            contents.readable = false; // damaged: the file is read as one for another log
            continue;
        }
        contents.values.append({*record, digest.toString().toLatin1(), field, std::move(*value)});
    }
    return contents;
}

QList<WholeValue> ExtrasValuesOf(const ItemRecord& record, int position)
{
    const ItemExtras& extras = record.extras;
    if (extras.isEmpty())
        return {};
    QJsonObject object;
    if (!extras.sha256.isEmpty())
        object.insert(QStringLiteral("sha256"), QString::fromLatin1(extras.sha256));
    if (extras.keepFiles)
        object.insert(QStringLiteral("keepFiles"), *extras.keepFiles);
    if (extras.keptFiles > 0)
        object.insert(QStringLiteral("keptFiles"), extras.keptFiles);
    if (!extras.archivedFrom.isEmpty()) {
        object.insert(QStringLiteral("archivedFrom"), extras.archivedFrom);
        object.insert(QStringLiteral("archivedAt"), extras.archivedAt);
    }
    if (!extras.failure.isEmpty())
        object.insert(QStringLiteral("failure"), extras.failure);
    return {{position, RecordDigest(record), "extras",
             QJsonDocument(object).toJson(QJsonDocument::Compact)}};
}

void RestoreExtras(ItemRecord& record, const QList<WholeValue>& values)
{
    for (const WholeValue& value : values) {
        if (value.field != "extras")
            continue;
        const QJsonObject object = QJsonDocument::fromJson(value.value).object();
        ItemExtras extras;
        extras.sha256 = object.value(QStringLiteral("sha256")).toString().toLatin1();
        if (const QJsonValue keep = object.value(QStringLiteral("keepFiles")); keep.isBool())
            extras.keepFiles = keep.toBool();
        extras.keptFiles = std::max(0, object.value(QStringLiteral("keptFiles")).toInt());
        extras.archivedFrom = object.value(QStringLiteral("archivedFrom")).toString();
        extras.archivedAt = object.value(QStringLiteral("archivedAt")).toString();
        extras.failure = object.value(QStringLiteral("failure")).toString();
        record.extras = extras;
    }
}
