#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

/// One entry of a browser's HTTP cache, as the cache walk hands it over.
struct CacheEntry
{
    QString url;  ///< the source address, recovered from the entry's key
    QString file; ///< the entry file on disk
    qint64 bodyOffset = 0;
    qint64 bodySize = 0;
    QDateTime lastModified; ///< the entry file's modification time
    QDateTime lastAccessed; ///< when the browser last fetched it, where the cache says
    QByteArray headers;     ///< the response headers, one a line
    QString extension;      ///< of the address's path, without the dot
    QString browser;        ///< "chromium" or "firefox"
};

/// Reads byte ranges of an entry: a file, or memory for tests and fuzzing. Every offset handed
/// in may be hostile; implementations refuse ranges outside the data.
class EntryBytes
{
public:
    virtual ~EntryBytes() = default;
    virtual qint64 size() const = 0;
    /// The bytes [offset, offset + length), or nothing when they are not all there.
    virtual std::optional<QByteArray> read(qint64 offset, qint64 length) const = 0;
};

class MemoryEntryBytes final : public EntryBytes
{
public:
    explicit MemoryEntryBytes(QByteArrayView bytes)
        : m_bytes(bytes)
    {
    }
    qint64 size() const override { return m_bytes.size(); }
    std::optional<QByteArray> read(qint64 offset, qint64 length) const override;

private:
    QByteArrayView m_bytes;
};

/// Chromium's simple cache entry ("<16 hex>_0"): key, body and response headers. Nothing for a
/// file that is not a whole entry.
std::optional<CacheEntry> ParseChromiumEntry(const EntryBytes& bytes);
/// Firefox's cache2 entry: key, body and response headers.
std::optional<CacheEntry> ParseFirefoxEntry(const EntryBytes& bytes);

/// The URL a cache key stands for: Chromium keys carry a credential flag, an upload id and the
/// isolation sites before it, Firefox keys a list of tagged attributes.
QString UrlFromChromiumKey(const QByteArray& key);
QString UrlFromFirefoxKey(const QByteArray& key);

/// A key or URL made safe to print: control characters escaped.
QString PrintableKey(const QString& text);
