#include "swfinfo.h"

#include <algorithm>

#include <lzma.h>
#include <zlib.h>

#include <QFile>

namespace {

// Signature (3), version (1), length (4), then at most 17 bytes of frame rectangle and 4 bytes of
// rate and count: 30 bytes of movie body are enough for every header.
constexpr qsizetype kBodyNeeded = 21;
constexpr qsizetype kPrefix = 8;

bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

QByteArray inflateStart(QByteArrayView compressed)
{
    QByteArray out(kBodyNeeded, '\0');
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(std::min<qsizetype>(compressed.size(), 1 << 20));
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_SYNC_FLUSH);
    const qsizetype produced = out.size() - stream.avail_out;
    inflateEnd(&stream);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
        return {};
    out.truncate(produced);
    return out;
}

// A movie's LZMA data has the 5 property bytes but not the 8-byte size of the ".lzma" format:
// rebuild that header with an unknown size for the decoder.
QByteArray unlzmaStart(QByteArrayView data)
{
    if (data.size() < 4 + 5)
        return {};
    QByteArray alone(data.sliced(4, 5).toByteArray());
    alone.append(QByteArray(8, '\xff'));
    alone.append(data.sliced(9).first(std::min<qsizetype>(data.size() - 9, 1 << 20)).toByteArray());

    QByteArray out(kBodyNeeded, '\0');
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&stream, 64 * 1024 * 1024) != LZMA_OK)
        return {};
    stream.next_in = reinterpret_cast<const uint8_t*>(alone.constData());
    stream.avail_in = static_cast<size_t>(alone.size());
    stream.next_out = reinterpret_cast<uint8_t*>(out.data());
    stream.avail_out = static_cast<size_t>(out.size());
    const lzma_ret result = lzma_code(&stream, LZMA_RUN);
    const qsizetype produced = out.size() - static_cast<qsizetype>(stream.avail_out);
    lzma_end(&stream);
    if (result != LZMA_OK && result != LZMA_STREAM_END && result != LZMA_BUF_ERROR)
        return {};
    out.truncate(produced);
    return out;
}

/// Reads bit fields most significant bit first, as the frame rectangle is stored.
class BitReader
{
public:
    explicit BitReader(QByteArrayView bytes)
        : m_bytes(bytes)
    {
    }
    bool read(int count, quint32& value)
    {
        value = 0;
        for (int i = 0; i < count; ++i) {
            const qsizetype byte = m_bit / 8;
            if (byte >= m_bytes.size())
                return false;
            const int bit = 7 - static_cast<int>(m_bit % 8);
            value = (value << 1) | ((static_cast<uchar>(m_bytes[byte]) >> bit) & 1u);
            ++m_bit;
        }
        return true;
    }
    bool readSigned(int count, qint32& value)
    {
        quint32 raw = 0;
        if (!read(count, raw))
            return false;
        if (count > 0 && count < 32 && (raw & (1u << (count - 1))))
            raw |= ~((1u << count) - 1); // sign-extend
        value = static_cast<qint32>(raw);
        return true;
    }
    qsizetype bytesUsed() const { return (m_bit + 7) / 8; }

private:
    QByteArrayView m_bytes;
    qsizetype m_bit = 0;
};

} // namespace

std::optional<SwfInfo> ReadSwfInfo(QByteArrayView bytes, QString* error)
{
    if (bytes.size() < kPrefix) {
        fail(error, QStringLiteral("too short for a Flash movie"));
        return std::nullopt;
    }
    SwfInfo info;
    info.signature = QString::fromLatin1(bytes.first(3));
    if (info.signature != u"FWS" && info.signature != u"CWS" && info.signature != u"ZWS") {
        fail(error, QStringLiteral("not a Flash movie (no FWS, CWS or ZWS signature)"));
        return std::nullopt;
    }
    info.version = static_cast<uchar>(bytes[3]);
    info.declaredLength = static_cast<quint32>(static_cast<uchar>(bytes[4])) |
                          static_cast<quint32>(static_cast<uchar>(bytes[5])) << 8 |
                          static_cast<quint32>(static_cast<uchar>(bytes[6])) << 16 |
                          static_cast<quint32>(static_cast<uchar>(bytes[7])) << 24;
    const QByteArrayView rest = bytes.sliced(kPrefix);
    const QByteArray body = info.signature == u"FWS"
                                ? rest.first(std::min(rest.size(), kBodyNeeded)).toByteArray()
                            : info.signature == u"CWS" ? inflateStart(rest)
                                                       : unlzmaStart(rest);

    BitReader bits(body);
    quint32 nbits = 0;
    qint32 xMin = 0, xMax = 0, yMin = 0, yMax = 0;
    if (!bits.read(5, nbits) || !bits.readSigned(static_cast<int>(nbits), xMin) ||
        !bits.readSigned(static_cast<int>(nbits), xMax) ||
        !bits.readSigned(static_cast<int>(nbits), yMin) ||
        !bits.readSigned(static_cast<int>(nbits), yMax) || bits.bytesUsed() + 4 > body.size()) {
        fail(error, QStringLiteral("the movie's header is cut short or cannot be decompressed"));
        return std::nullopt;
    }
    if (xMax < xMin || yMax < yMin) {
        fail(error, QStringLiteral("the movie's frame size is negative: the header is damaged"));
        return std::nullopt;
    }
    const qsizetype at = bits.bytesUsed();
    auto u16 = [&](qsizetype offset) {
        return static_cast<quint16>(static_cast<uchar>(body[offset]) |
                                    static_cast<uchar>(body[offset + 1]) << 8);
    };
    // Sizes are in twips, twenty to the pixel; the rate is 8.8 fixed point.
    info.width = (static_cast<qint64>(xMax) - xMin) / 20.0;
    info.height = (static_cast<qint64>(yMax) - yMin) / 20.0;
    info.frameRate = u16(at) / 256.0;
    info.frameCount = u16(at + 2);
    return info;
}

std::optional<SwfInfo> ReadSwfInfoFromFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    // Compressed headers need the start of the stream only; 64 KiB holds far more than that.
    std::optional<SwfInfo> info = ReadSwfInfo(file.read(64 * 1024), error);
    if (!info)
        return std::nullopt;
    file.seek(0);
    const qint64 length = MovieLength(file, info->signature, &info->trailing);
    info->fileSize = file.size();
    info->movieLength = length;
    if (length < 0) {
        fail(error, QStringLiteral("the compressed movie is damaged"));
        return std::nullopt;
    }
    if (length < info->declaredLength) {
        fail(error,
             QStringLiteral("the movie is cut short: %1 of the %2 bytes its header announces")
                 .arg(length)
                 .arg(info->declaredLength));
        return std::nullopt;
    }
    return info;
}

QString SwfLengthWarning(const SwfInfo& info)
{
    if (info.movieLength > info.declaredLength)
        return QStringLiteral("the header announces %1 bytes, the movie holds %2: %3 bytes lie "
                              "after its end")
            .arg(info.declaredLength)
            .arg(info.movieLength)
            .arg(info.movieLength - info.declaredLength);
    if (info.trailing > 0)
        return QStringLiteral("%1 bytes follow the end of the compressed movie").arg(info.trailing);
    return {};
}

qint64 MovieLength(QIODevice& file, const QString& signature, qint64* trailing)
{
    const auto remaining = [&](qint64 unread) {
        if (trailing)
            *trailing = unread + std::max<qint64>(0, file.size() - file.pos());
    };
    if (trailing)
        *trailing = 0;
    if (signature == u"FWS")
        return file.size() - file.pos();
    QByteArray prefix = file.read(signature == u"CWS" ? kPrefix : kPrefix + 4 + 5);
    if (prefix.size() < kPrefix)
        return -1;
    qint64 produced = kPrefix;
    QByteArray out(64 * 1024, Qt::Uninitialized);
    QByteArray in(64 * 1024, Qt::Uninitialized);
    if (signature == u"CWS") {
        z_stream stream{};
        if (inflateInit(&stream) != Z_OK)
            return -1;
        int result = Z_OK;
        while (result == Z_OK) {
            if (stream.avail_in == 0) {
                const qint64 read = file.read(in.data(), in.size());
                if (read <= 0)
                    break; // cut before the end of the stream
                stream.next_in = reinterpret_cast<Bytef*>(in.data());
                stream.avail_in = static_cast<uInt>(read);
            }
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            result = inflate(&stream, Z_NO_FLUSH);
            produced += out.size() - stream.avail_out;
            if (result == Z_BUF_ERROR && stream.avail_in == 0)
                result = Z_OK; // wants more input
        }
        inflateEnd(&stream);
        if (result == Z_STREAM_END)
            remaining(stream.avail_in);
        return result == Z_STREAM_END || result == Z_OK ? produced : -1;
    }
    // LZMA: the 5 property bytes, then the raw stream; the header's length tells where it ends.
    if (prefix.size() < kPrefix + 4 + 5)
        return -1;
    const quint32 declared = static_cast<quint32>(static_cast<uchar>(prefix[4])) |
                             static_cast<quint32>(static_cast<uchar>(prefix[5])) << 8 |
                             static_cast<quint32>(static_cast<uchar>(prefix[6])) << 16 |
                             static_cast<quint32>(static_cast<uchar>(prefix[7])) << 24;
    QByteArray header = prefix.sliced(kPrefix + 4, 5);
    quint64 size = declared > kPrefix ? declared - kPrefix : 0;
    for (int i = 0; i < 8; ++i, size >>= 8)
        header.append(static_cast<char>(size & 0xFF));
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&stream, 256 * 1024 * 1024) != LZMA_OK)
        return -1;
    lzma_ret result = LZMA_OK;
    bool headerGiven = false;
    while (result == LZMA_OK) {
        if (stream.avail_in == 0) {
            if (!headerGiven) {
                in = header;
                headerGiven = true;
            } else {
                in.resize(64 * 1024);
                const qint64 read = file.read(in.data(), in.size());
                if (read <= 0)
                    break;
                in.resize(read);
            }
            stream.next_in = reinterpret_cast<const uint8_t*>(in.constData());
            stream.avail_in = static_cast<size_t>(in.size());
        }
        stream.next_out = reinterpret_cast<uint8_t*>(out.data());
        stream.avail_out = static_cast<size_t>(out.size());
        result = lzma_code(&stream, LZMA_RUN);
        produced += out.size() - static_cast<qsizetype>(stream.avail_out);
        if (result == LZMA_BUF_ERROR)
            result = LZMA_OK;
    }
    lzma_end(&stream);
    if (result == LZMA_STREAM_END)
        remaining(static_cast<qint64>(stream.avail_in));
    return result == LZMA_STREAM_END || result == LZMA_OK ? static_cast<qint64>(produced) : -1;
}
