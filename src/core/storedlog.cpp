#include "storedlog.h"

#include <QFile>

#include <algorithm>
#include <optional>
#include <tuple>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

/// The file's size and modification time, in nanoseconds; nothing when it cannot be asked.
std::optional<std::pair<qint64, qint64>> sizeAndModification(int handle)
{
    struct stat info
    {
    };
    if (::fstat(handle, &info) != 0)
        return std::nullopt;
    return std::pair<qint64, qint64>(info.st_size, qint64(info.st_mtim.tv_sec) * 1000000000 +
                                                       info.st_mtim.tv_nsec);
}

} // namespace

StoredLog::StoredLog(std::unique_ptr<QFile> file, qint64 recordSize)
    : m_file(std::move(file))
    , m_recordSize(recordSize)
    , m_size(0)
    , m_modifiedNs(0)
{
    if (const auto now = sizeAndModification(m_file->handle()))
        std::tie(m_size, m_modifiedNs) = *now;
    m_header = readHeader();
}

StoredLog::~StoredLog() = default;

bool StoredLog::changed() const
{
    if (m_changed.load(std::memory_order_relaxed))
        return true;
    const auto now = sizeAndModification(m_file->handle());
    if (!now || *now != std::pair(m_size, m_modifiedNs) || readHeader() != m_header)
        m_changed.store(true, std::memory_order_relaxed);
    return m_changed.load(std::memory_order_relaxed);
}

qint64 StoredLog::readableRecords() const
{
    return m_size < kHeaderSize ? 0 : (m_size - kHeaderSize) / m_recordSize;
}

bool StoredLog::read(qint64 first, qint64 count, char* into) const
{
    // Checked after the read too: another program's write changes the modification time before
    // its bytes land, so bytes read before an unchanged time are the log's own.
    if (changed())
        return false;
    // pread leaves the file's position alone, so passes never disturb each other.
    qint64 offset = kHeaderSize + first * m_recordSize;
    qint64 left = count * m_recordSize;
    while (left > 0) {
        const ssize_t got = ::pread(m_file->handle(), into, static_cast<std::size_t>(left), offset);
        if (got <= 0)
            return false;
        into += got;
        offset += got;
        left -= got;
    }
    return !changed();
}

qint64
StoredLog::readInPieces(qint64 first, qint64 count,
                        const std::function<void(qint64, const char*, qint64)>& consume) const
{
    // One buffer, reused: the pieces stay in the processor's cache between the read and their use.
    // It comes from new, so records of any kind are aligned in it.
    std::vector<char> buffer(
        static_cast<std::size_t>(std::min(count, kRecordsPerPiece) * m_recordSize));
    qint64 handed = 0;
    while (handed < count) {
        const qint64 n = std::min(kRecordsPerPiece, count - handed);
        if (!read(first + handed, n, buffer.data()))
            break;
        consume(first + handed, buffer.data(), n);
        handed += n;
    }
    return handed;
}

QByteArray StoredLog::header() const
{
    return m_header;
}

QByteArray StoredLog::readHeader() const
{
    QByteArray header(kHeaderSize, Qt::Uninitialized);
    if (::pread(m_file->handle(), header.data(), kHeaderSize, 0) != kHeaderSize)
        return {};
    return header;
}
