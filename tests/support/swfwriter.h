#pragma once

#include <lzma.h>
#include <zlib.h>

#include <QByteArray>

#include <cstdint>

/// Writes small, valid Flash movies for tests: a header, a background colour and empty frames,
/// plain (FWS), zlib-compressed (CWS) or LZMA-compressed (ZWS).
struct SwfMovie
{
    QByteArray signature = "FWS";
    int version = 10;
    int widthPixels = 550;
    int heightPixels = 400;
    double frameRate = 24;
    int frameCount = 1;
    struct Rgb
    {
        std::uint8_t red, green, blue;
    } background{0x33, 0x66, 0x99};
};

namespace swfwriter {

class Bits
{
public:
    void put(std::uint32_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            m_current = static_cast<std::uint8_t>((m_current << 1) | ((value >> i) & 1u));
            if (++m_used == 8)
                flush();
        }
    }
    QByteArray finish()
    {
        if (m_used > 0) {
            m_current = static_cast<std::uint8_t>(m_current << (8 - m_used));
            flush();
        }
        return m_bytes;
    }

private:
    void flush()
    {
        m_bytes.append(static_cast<char>(m_current));
        m_current = 0;
        m_used = 0;
    }
    QByteArray m_bytes;
    std::uint8_t m_current = 0;
    int m_used = 0;
};

inline void u16(QByteArray& out, unsigned value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

inline void shortTag(QByteArray& out, unsigned code, const QByteArray& body)
{
    u16(out, (code << 6) | static_cast<unsigned>(body.size()));
    out.append(body);
}

} // namespace swfwriter

inline QByteArray WriteSwf(const SwfMovie& movie)
{
    using namespace swfwriter;
    // Frame rectangle in twips: Nbits wide enough for the largest value, then xmin xmax ymin ymax.
    const std::uint32_t width = static_cast<std::uint32_t>(movie.widthPixels) * 20;
    const std::uint32_t height = static_cast<std::uint32_t>(movie.heightPixels) * 20;
    int nbits = 1;
    while ((std::max(width, height) >> (nbits - 1)) != 0)
        ++nbits;
    Bits rect;
    rect.put(static_cast<std::uint32_t>(nbits), 5);
    rect.put(0, nbits);
    rect.put(width, nbits);
    rect.put(0, nbits);
    rect.put(height, nbits);

    QByteArray body = rect.finish();
    u16(body, static_cast<unsigned>(movie.frameRate * 256));
    u16(body, static_cast<unsigned>(movie.frameCount));
    QByteArray colour;
    colour.append(static_cast<char>(movie.background.red));
    colour.append(static_cast<char>(movie.background.green));
    colour.append(static_cast<char>(movie.background.blue));
    shortTag(body, 9, colour); // SetBackgroundColor
    for (int i = 0; i < movie.frameCount; ++i)
        shortTag(body, 1, {}); // ShowFrame
    shortTag(body, 0, {});     // End

    const std::uint32_t length = static_cast<std::uint32_t>(8 + body.size());
    QByteArray header = movie.signature;
    header.append(static_cast<char>(movie.version));
    for (int i = 0; i < 4; ++i)
        header.append(static_cast<char>((length >> (8 * i)) & 0xFF));

    if (movie.signature == "CWS") {
        uLongf size = compressBound(static_cast<uLong>(body.size()));
        QByteArray packed(static_cast<qsizetype>(size), '\0');
        compress(reinterpret_cast<Bytef*>(packed.data()), &size,
                 reinterpret_cast<const Bytef*>(body.constData()), static_cast<uLong>(body.size()));
        packed.truncate(static_cast<qsizetype>(size));
        return header + packed;
    }
    if (movie.signature == "ZWS") {
        // ".lzma" output is 5 property bytes, an 8-byte size, then the data; a movie keeps the
        // properties, drops the size, and says how long the data is.
        lzma_options_lzma options;
        lzma_lzma_preset(&options, 6);
        lzma_stream stream = LZMA_STREAM_INIT;
        if (lzma_alone_encoder(&stream, &options) != LZMA_OK)
            return {};
        QByteArray packed(body.size() + 1024, '\0');
        stream.next_in = reinterpret_cast<const uint8_t*>(body.constData());
        stream.avail_in = static_cast<size_t>(body.size());
        stream.next_out = reinterpret_cast<uint8_t*>(packed.data());
        stream.avail_out = static_cast<size_t>(packed.size());
        if (lzma_code(&stream, LZMA_FINISH) != LZMA_STREAM_END)
            return {};
        packed.truncate(packed.size() - static_cast<qsizetype>(stream.avail_out));
        lzma_end(&stream);
        const QByteArray data = packed.mid(13);
        QByteArray out = header;
        const auto compressedLength = static_cast<std::uint32_t>(data.size());
        for (int i = 0; i < 4; ++i)
            out.append(static_cast<char>((compressedLength >> (8 * i)) & 0xFF));
        return out + packed.left(5) + data;
    }
    return header + body;
}
