#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>

class QFile;

/// A log file open for reading its fixed-size records by number. Every writer of the logs puts a
/// new file in place by renaming it, so an open log keeps the bytes it had when it was read,
/// whatever this program saves after. Another program may still write into it in place (`cp`
/// over it, a truncation): a read is checked against the file's size, modification time and
/// header as they were when it was opened, before and after, and from the first change on the
/// log reads nothing more, so that no record of the other file is ever taken for one of ours.
class StoredLog final
{
public:
    static constexpr qint64 kHeaderSize = 16;
    /// Records read at once by a pass over a log: small enough to stay in the processor's cache.
    static constexpr qint64 kRecordsPerPiece = 256;

    /// Takes over an open file whose records are `recordSize` bytes each.
    StoredLog(std::unique_ptr<QFile> file, qint64 recordSize);
    ~StoredLog();
    Q_DISABLE_COPY_MOVE(StoredLog)

    qint64 size() const { return m_size; }
    /// Records whole in the file after its header.
    qint64 readableRecords() const;
    /// Reads `count` records from `first` into `into`; false when the file no longer holds them
    /// or was changed.
    bool read(qint64 first, qint64 count, char* into) const;
    /// Whether another program changed the file since it was opened; once true, stays true.
    bool changed() const;
    /// Reads the header's bytes; empty when the file is shorter.
    QByteArray header() const;
    /// Reads `count` records from record `first` in pieces of kRecordsPerPiece and hands each
    /// piece to `consume` (its first record's number, its bytes, how many) in order. Returns how
    /// many records were handed over: fewer when the file no longer held them.
    qint64 readInPieces(
        qint64 first, qint64 count,
        const std::function<void(qint64 first, const char* bytes, qint64 n)>& consume) const;

private:
    QByteArray readHeader() const;

    std::unique_ptr<QFile> m_file;
    qint64 m_recordSize;
    qint64 m_size;
    qint64 m_modifiedNs; ///< the file's modification time when opened
    QByteArray m_header; ///< its header when opened
    mutable std::atomic<bool> m_changed = false;
};
