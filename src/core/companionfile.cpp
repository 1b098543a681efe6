#include "companionfile.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

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

QByteArray takeValue(const QJsonObject& object)
{
    if (object.contains(QStringLiteral("base64")))
        return QByteArray::fromBase64(object.value(QStringLiteral("base64")).toString().toLatin1());
    return object.value(QStringLiteral("text")).toString().toUtf8();
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
    const QJsonObject root = QJsonDocument::fromJson(text.toByteArray()).object();
    if (root.value(QStringLiteral("format")).toString() != formatOf(kind))
        return contents;
    contents.recordCount = root.value(QStringLiteral("records")).toInteger(-1);
    contents.readable = contents.recordCount >= 0;
    const QJsonArray entries = root.value(QStringLiteral("values")).toArray();
    for (const QJsonValue& entry : entries) {
        const QJsonObject object = entry.toObject();
        const qint64 record = object.value(QStringLiteral("record")).toInteger(-1);
        if (record < 0 || record >= contents.recordCount)
            continue;
        contents.values.append(
            {static_cast<int>(record), object.value(QStringLiteral("digest")).toString().toLatin1(),
             object.value(QStringLiteral("field")).toString().toLatin1(), takeValue(object)});
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
