#include "records.h"

#include <cstring>

#include <QDir>

ItemRecord EmptyItemRecord()
{
    ItemRecord record;
    std::memset(&record, 0, sizeof record);
    return record;
}

CategoryRecord EmptyCategoryRecord()
{
    CategoryRecord record;
    std::memset(&record, 0, sizeof record);
    return record;
}

CategoryRecord CategoryNamed(const QString& name)
{
    CategoryRecord record = EmptyCategoryRecord();
    SetFieldText(record.Name, name);
    return record;
}

QString ItemFilePath(const ItemRecord& item)
{
    const QString fileName = FieldText(item.FileName);
    if (fileName.startsWith(u'/'))
        return fileName;
    return FieldText(item.Folder) + fileName;
}

QString DefaultSaveFolder()
{
    return QDir::homePath() + QStringLiteral("/clipvault/");
}

QStringList BuiltInCategoryNames()
{
    return {QLatin1String(builtin::Downloading), QLatin1String(builtin::Downloaded),
            QLatin1String(builtin::Deleted)};
}

QStringList FirstRunCategoryNames()
{
    return {QStringLiteral("Mtv"), QStringLiteral("Game"), QStringLiteral("Fun")};
}

QByteArrayView TrimmedBlanks(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.sliced(begin, end - begin);
}

QByteArray CatalogueKey(QByteArrayView text)
{
    const QByteArrayView trimmed = TrimmedBlanks(text);
    QByteArray key(trimmed.size(), Qt::Uninitialized);
    char* out = key.data();
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const auto c = static_cast<unsigned char>(trimmed[i]);
        if (c >= 0x80) // not plain ASCII: let Qt fold the whole text
            return QString::fromUtf8(trimmed).toCaseFolded().toUtf8();
        out[i] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    return key;
}

QByteArray CatalogueKey(const QString& text)
{
    return CatalogueKey(QByteArrayView(text.toUtf8()));
}

bool IsBuiltInCategory(QByteArrayView name)
{
    const QByteArray key = CatalogueKey(name);
    return key == "downloading" || key == "downloaded" || key == "deleted";
}
