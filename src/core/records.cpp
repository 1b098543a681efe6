#include "records.h"

#include <cstring>

#include <QDir>
#include <QStringDecoder>

ItemRecord EmptyItemRecord()
{
    return ItemRecord{};
}

CategoryRecord EmptyCategoryRecord()
{
    return CategoryRecord{};
}

namespace {

// One copy for both directions: the stored bytes of a text field, and every other byte as is.
template <std::size_t N>
void copyField(char (&to)[N], const TextField<N>& from)
{
    std::memcpy(to, from.stored, N);
}

template <std::size_t N>
void copyField(TextField<N>& to, const char (&from)[N])
{
    std::memcpy(to.stored, from, N);
}

template <typename T, std::size_t N>
void copyField(T (&to)[N], const T (&from)[N])
{
    std::memcpy(to, from, sizeof to);
}

template <typename T>
void copyField(T& to, const T& from)
{
    to = from;
}

template <typename To, typename From>
To copiedItem(const From& from)
{
    To to;
    copyField(to.reserved0, from.reserved0);
    copyField(to.State, from.State);
    copyField(to.reserved1, from.reserved1);
    copyField(to.Url, from.Url);
    copyField(to.Category, from.Category);
    copyField(to.Folder, from.Folder);
    copyField(to.FileName, from.FileName);
    copyField(to.reserved2, from.reserved2);
    copyField(to.Comment, from.Comment);
    copyField(to.StartNow, from.StartNow);
    copyField(to.reserved3, from.reserved3);
    return to;
}

template <typename To, typename From>
To copiedCategory(const From& from)
{
    To to;
    copyField(to.Tag, from.Tag);
    copyField(to.reserved, from.reserved);
    copyField(to.Name, from.Name);
    copyField(to.Folder, from.Folder);
    return to;
}

} // namespace

StoredItemRecord ToStored(const ItemRecord& record)
{
    return copiedItem<StoredItemRecord>(record);
}

ItemRecord FromStored(const StoredItemRecord& stored)
{
    return copiedItem<ItemRecord>(stored);
}

StoredCategoryRecord ToStored(const CategoryRecord& record)
{
    return copiedCategory<StoredCategoryRecord>(record);
}

CategoryRecord FromStored(const StoredCategoryRecord& stored)
{
    return copiedCategory<CategoryRecord>(stored);
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

QString ItemShownFileName(const ItemRecord& item)
{
    const QString fileName = FieldText(item.FileName);
    return fileName.startsWith(u'/') ? fileName.mid(fileName.lastIndexOf(u'/') + 1) : fileName;
}

QString DownloadFailureText(const ItemRecord& item)
{
    if (item.state() != ItemState::Failed)
        return {};
    const QString failed = QStringLiteral("Download failed");
    return item.extras.failure.isEmpty() ? failed
                                         : failed + QStringLiteral(": ") + item.extras.failure;
}

QString ItemShownFolder(const ItemRecord& item)
{
    const QString fileName = FieldText(item.FileName);
    return fileName.startsWith(u'/') ? fileName.left(fileName.lastIndexOf(u'/') + 1)
                                     : FieldText(item.Folder);
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
    bool ascii = true;
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const auto c = static_cast<unsigned char>(trimmed[i]);
        ascii = ascii && c < 0x80;
        out[i] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    if (ascii)
        return key;
    // Valid UTF-8 is folded by Qt, every letter. Other bytes are kept as they are stored (only
    // ASCII letters folded): decoding would turn each invalid byte into U+FFFD and make
    // distinct addresses one.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(trimmed);
    if (decoder.hasError())
        return key;
    return decoded.toCaseFolded().toUtf8();
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
