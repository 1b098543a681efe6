#include "cacheentry.h"

#include <QtEndian>

namespace {

constexpr quint64 kSimpleHeaderMagic = 0xfcfb6d1ba7725c30ULL;
constexpr quint64 kSimpleEofMagic = 0xf4fa6f45970d41d8ULL;
constexpr qint64 kSimpleRecord = 24;
constexpr qint64 kMaxKey = 2 * 1024 * 1024;
constexpr qint64 kMaxHeaders = 1024 * 1024;
constexpr qint64 kFirefoxChunk = 262144;

template <typename T>
T le(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<T>(bytes.constData() + at);
}

template <typename T>
T be(const QByteArray& bytes, qsizetype at)
{
    return qFromBigEndian<T>(bytes.constData() + at);
}

QString extensionOf(const QString& url)
{
    QString path = url;
    for (QChar stop : {u'?', u'#'}) {
        if (const qsizetype at = path.indexOf(stop); at >= 0)
            path.truncate(at);
    }
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot > slash ? path.mid(dot + 1) : QString();
}

/// The raw headers of a Chromium response info pickle: "HTTP/1.1 200 OK\0Name: value\0…\0\0".
std::optional<QByteArray> headersFromPickle(const QByteArray& pickle, QDateTime& responseTime)
{
    // u32 payload size, then 4-byte aligned fields.
    if (pickle.size() < 4 + 4 + 16 + 4)
        return std::nullopt;
    qsizetype at = 4;
    const quint32 flags = le<quint32>(pickle, at);
    at += 4;
    if ((flags & 0xFF) != 3)
        return std::nullopt;
    quint32 extra = 0;
    if (flags & 0x80000000u) {
        extra = le<quint32>(pickle, at);
        at += 4;
    }
    at += 8; // request time
    if (at + 8 > pickle.size())
        return std::nullopt;
    const qint64 response = le<qint64>(pickle, at);
    at += 8;
    if (extra & 4)
        at += 8;
    if (at + 4 > pickle.size())
        return std::nullopt;
    const qint32 length = le<qint32>(pickle, at);
    at += 4;
    if (length < 0 || length > pickle.size() - at)
        return std::nullopt;
    // Microseconds since 1601-01-01 UTC.
    constexpr qint64 kUnixEpochIn1601Micros = 11644473600LL * 1000000LL;
    if (response > kUnixEpochIn1601Micros)
        responseTime =
            QDateTime::fromMSecsSinceEpoch((response - kUnixEpochIn1601Micros) / 1000, Qt::UTC);
    QByteArray headers = pickle.mid(at, length);
    while (headers.endsWith('\0'))
        headers.chop(1);
    headers.replace('\0', '\n');
    return headers;
}

} // namespace

std::optional<QByteArray> MemoryEntryBytes::read(qint64 offset, qint64 length) const
{
    if (offset < 0 || length < 0 || offset > m_bytes.size() || length > m_bytes.size() - offset)
        return std::nullopt;
    return m_bytes.sliced(offset, length).toByteArray();
}

QString UrlFromChromiumKey(const QByteArray& key)
{
    // "<credential flag>/<upload id>/[_dk_<isolation sites> ]<url>"
    const qsizetype first = key.indexOf('/');
    const qsizetype second = first < 0 ? -1 : key.indexOf('/', first + 1);
    QByteArray rest = second < 0 ? key : key.mid(second + 1);
    if (rest.startsWith("_dk_")) {
        const qsizetype space = rest.lastIndexOf(' ');
        rest = space < 0 ? QByteArray() : rest.mid(space + 1);
    }
    if (rest.contains("://"))
        return QString::fromUtf8(rest);
    return key.contains("://") ? QString::fromUtf8(key) : QString();
}

QString UrlFromFirefoxKey(const QByteArray& key)
{
    // Tags in ascending order, each "<tag>[value],"; ",," is a literal comma; ":" ends them.
    qsizetype at = 0;
    while (at < key.size()) {
        const char tag = key[at++];
        if (tag == ':')
            return QString::fromUtf8(key.mid(at));
        while (at < key.size()) {
            if (key[at] == ',') {
                if (at + 1 < key.size() && key[at + 1] == ',') {
                    at += 2;
                    continue;
                }
                ++at;
                break;
            }
            ++at;
        }
    }
    return {};
}

QString PrintableKey(const QString& text)
{
    QString printable;
    printable.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            printable +=
                QStringLiteral("\\x%1").arg(static_cast<uint>(c.unicode()), 2, 16, QChar(u'0'));
        else
            printable += c;
    }
    return printable;
}

std::optional<CacheEntry> ParseChromiumEntry(const EntryBytes& bytes)
{
    const qint64 fileSize = bytes.size();
    if (fileSize < 3 * kSimpleRecord)
        return std::nullopt;
    const auto header = bytes.read(0, kSimpleRecord);
    const auto eof0 = bytes.read(fileSize - kSimpleRecord, kSimpleRecord);
    if (!header || !eof0 || le<quint64>(*header, 0) != kSimpleHeaderMagic ||
        le<quint32>(*header, 8) != 5 || le<quint64>(*eof0, 0) != kSimpleEofMagic)
        return std::nullopt;
    const qint64 keyLength = le<quint32>(*header, 12);
    const quint32 eofFlags = le<quint32>(*eof0, 8);
    const qint64 stream0 = le<quint32>(*eof0, 16);
    const qint64 sha = (eofFlags & 2) ? 32 : 0;
    if (keyLength > kMaxKey || keyLength > fileSize - 3 * kSimpleRecord || stream0 > fileSize)
        return std::nullopt;
    const qint64 stream1 = fileSize - 3 * kSimpleRecord - keyLength - stream0 - sha;
    if (stream1 < 0 || stream0 > kMaxHeaders)
        return std::nullopt;
    const auto key = bytes.read(kSimpleRecord, keyLength);
    const auto pickle = bytes.read(2 * kSimpleRecord + keyLength + stream1, stream0);
    if (!key || !pickle)
        return std::nullopt;

    CacheEntry entry;
    entry.url = UrlFromChromiumKey(*key);
    if (entry.url.isEmpty())
        return std::nullopt;
    const auto headers = headersFromPickle(*pickle, entry.lastAccessed);
    if (!headers)
        return std::nullopt;
    entry.headers = *headers;
    entry.bodyOffset = kSimpleRecord + keyLength;
    entry.bodySize = stream1;
    entry.extension = extensionOf(entry.url);
    entry.browser = QStringLiteral("chromium");
    return entry;
}

std::optional<CacheEntry> ParseFirefoxEntry(const EntryBytes& bytes)
{
    const qint64 fileSize = bytes.size();
    if (fileSize < 4)
        return std::nullopt;
    const auto tail = bytes.read(fileSize - 4, 4);
    if (!tail)
        return std::nullopt;
    const qint64 metadata = be<quint32>(*tail, 0);
    const qint64 chunks = (metadata + kFirefoxChunk - 1) / kFirefoxChunk;
    const qint64 headerAt = metadata + 4 + 2 * chunks;
    if (metadata >= fileSize || headerAt > fileSize - 4 - 28)
        return std::nullopt;
    const auto versionBytes = bytes.read(headerAt, 4);
    if (!versionBytes)
        return std::nullopt;
    const quint32 version = be<quint32>(*versionBytes, 0);
    if (version < 1 || version > 4)
        return std::nullopt;
    const qint64 headerSize = version == 1 ? 28 : 32;
    const auto header = bytes.read(headerAt, headerSize);
    if (!header)
        return std::nullopt;
    const qint64 keySize = be<quint32>(*header, 24);
    const qint64 keyAt = headerAt + headerSize;
    if (keySize > kMaxKey || keySize + 1 > fileSize - 4 - keyAt)
        return std::nullopt;
    const auto key = bytes.read(keyAt, keySize + 1);
    if (!key || key->back() != '\0')
        return std::nullopt;
    const qint64 elementsAt = keyAt + keySize + 1;
    const qint64 elementsSize = fileSize - 4 - elementsAt;
    if (elementsSize > kMaxHeaders)
        return std::nullopt;
    const auto elements = bytes.read(elementsAt, elementsSize);
    if (!elements)
        return std::nullopt;

    CacheEntry entry;
    entry.url = UrlFromFirefoxKey(key->first(keySize));
    if (entry.url.isEmpty())
        return std::nullopt;
    entry.bodySize = metadata;
    // "name\0value\0" pairs. Current releases end them with a few bytes of their own (an empty
    // name comes first), so the walk stops at an empty name or at a pair that is not whole.
    for (qsizetype at = 0; at < elements->size();) {
        const qsizetype nameEnd = elements->indexOf('\0', at);
        if (nameEnd <= at)
            break;
        const qsizetype valueEnd = elements->indexOf('\0', nameEnd + 1);
        if (valueEnd < 0)
            break;
        const QByteArray name = elements->sliced(at, nameEnd - at);
        const QByteArray value = elements->sliced(nameEnd + 1, valueEnd - nameEnd - 1);
        at = valueEnd + 1;
        if (name == "response-head") {
            entry.headers = value;
            entry.headers.replace("\r\n", "\n");
            while (entry.headers.endsWith('\n'))
                entry.headers.chop(1);
        } else if (name == "alt-data") {
            // "1;<offset>,<type>": the body ends where the alternative data begins.
            const qsizetype semicolon = value.indexOf(';');
            const qsizetype comma = value.indexOf(',');
            bool ok = false;
            const qint64 offset =
                semicolon < 0 || comma < semicolon
                    ? -1
                    : value.mid(semicolon + 1, comma - semicolon - 1).toLongLong(&ok);
            if (!ok || offset < 0 || offset > metadata)
                return std::nullopt;
            entry.bodySize = offset;
        }
    }
    const qint64 lastFetched = be<quint32>(*header, 8);
    if (lastFetched > 0)
        entry.lastAccessed = QDateTime::fromSecsSinceEpoch(lastFetched, Qt::UTC);
    entry.extension = extensionOf(entry.url);
    entry.browser = QStringLiteral("firefox");
    return entry;
}
