#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QtEndian>

// Cache entries built from the formats, for tests and benchmarks.

template <typename T>
inline QByteArray littleEndian(T value)
{
    QByteArray bytes(sizeof(T), '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

template <typename T>
inline QByteArray bigEndian(T value)
{
    QByteArray bytes(sizeof(T), '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

inline QByteArray padded(QByteArray bytes)
{
    while (bytes.size() % 4)
        bytes.append('\0');
    return bytes;
}

/// A Chromium simple cache entry built from the format: header, key, body, EOF, response info
/// pickle, key hash, EOF.
inline QByteArray chromiumEntry(const QByteArray& key, const QByteArray& body,
                                const QByteArray& rawHeaders)
{
    QByteArray payload = littleEndian<quint32>(3) + littleEndian<qint64>(13350000000000000) +
                         littleEndian<qint64>(13350000000000000) +
                         littleEndian<qint32>(static_cast<qint32>(rawHeaders.size())) +
                         padded(rawHeaders);
    const QByteArray pickle = littleEndian<quint32>(static_cast<quint32>(payload.size())) + payload;
    auto eof = [](quint32 flags, quint32 size) -> QByteArray {
        return littleEndian<quint64>(0xf4fa6f45970d41d8ULL) + littleEndian<quint32>(flags) +
               littleEndian<quint32>(0) + littleEndian<quint32>(size) + littleEndian<quint32>(0);
    };
    return littleEndian<quint64>(0xfcfb6d1ba7725c30ULL) + littleEndian<quint32>(5) +
           littleEndian<quint32>(static_cast<quint32>(key.size())) + littleEndian<quint32>(0) +
           littleEndian<quint32>(0) + key + body + eof(1, 0) + pickle +
           QCryptographicHash::hash(key, QCryptographicHash::Sha256) +
           eof(3, static_cast<quint32>(pickle.size()));
}

/// A Firefox cache2 entry built from the format: body, metadata, offset.
inline QByteArray firefoxEntry(const QByteArray& key, const QByteArray& body,
                               const QByteArray& responseHead)
{
    const quint32 chunks = static_cast<quint32>((body.size() + 262143) / 262144);
    QByteArray metadata = bigEndian<quint32>(0);
    for (quint32 i = 0; i < chunks; ++i)
        metadata += bigEndian<quint16>(0);
    for (quint32 field :
         {4u, 1u, 1765000000u, 1765000000u, 0u, 0u, static_cast<quint32>(key.size()), 0u})
        metadata += bigEndian<quint32>(field);
    metadata += key + '\0';
    metadata += QByteArray("response-head\0", 14) + responseHead + '\0' +
                QByteArray("ctid\0"
                           "1\0",
                           7);
    return body + metadata + bigEndian<quint32>(static_cast<quint32>(body.size()));
}
