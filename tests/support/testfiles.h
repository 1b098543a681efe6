#pragma once

#include "records.h"

#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include <QByteArray>
#include <QFile>
#include <QString>

/// The whole content of a file, or a null array when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

/// Puts text into a byte buffer at an offset, as a log writer of another program would.
inline void putText(QByteArray& buffer, qsizetype offset, const char* text)
{
    std::memcpy(buffer.data() + offset, text, std::strlen(text));
}

/// A 16-byte log header: tag, one undefined byte, little-endian count.
inline QByteArray logHeaderBytes(const char* tag, qint32 count)
{
    QByteArray header(16, '\0');
    putText(header, 0, tag);
    const auto value = static_cast<quint32>(count);
    for (int i = 0; i < 4; ++i)
        header[12 + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return header;
}

/// An item record built byte by byte from the documented offsets.
inline QByteArray itemBytes(char state, const char* url, const char* category, const char* folder,
                            const char* fileName, const char* comment = "", char startNow = 0)
{
    QByteArray record(636, '\0');
    record[4] = state;
    putText(record, 36, url);
    putText(record, 137, category);
    putText(record, 168, folder);
    putText(record, 269, fileName);
    putText(record, 331, comment);
    record[632] = startNow;
    return record;
}

/// A category record built byte by byte from the documented offsets.
inline QByteArray categoryBytes(const char* name, const char* folder, qint32 tag = 0)
{
    QByteArray record(144, '\0');
    std::memcpy(record.data(), &tag, 4);
    putText(record, 12, name);
    putText(record, 43, folder);
    return record;
}

/// Makes writes beyond `bytes` fail for the life of the object, the way a full disk would
/// (works for root too, unlike permissions).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int);
};
