#pragma once

#include <lzma.h>
#include <zlib.h>

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <utility>

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
    QByteArray tags = {}; ///< raw tags placed in the first frame (see swftags)
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

/// Raw tags and actions for SwfMovie::tags.
namespace swftags {

inline QByteArray tag(unsigned code, const QByteArray& body)
{
    QByteArray out;
    if (body.size() < 0x3F) {
        swfwriter::shortTag(out, code, body);
        return out;
    }
    swfwriter::u16(out, (code << 6) | 0x3F);
    const auto size = static_cast<std::uint32_t>(body.size());
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((size >> (8 * i)) & 0xFF));
    return out + body;
}
inline QByteArray text(const QByteArray& value)
{
    return value + '\0';
}
inline QByteArray action(unsigned code, const QByteArray& payload)
{
    QByteArray out(1, static_cast<char>(code));
    swfwriter::u16(out, static_cast<unsigned>(payload.size()));
    return out + payload;
}
/// GetURL: load `url` into `target` ("_level1" loads a movie into level 1).
inline QByteArray getUrl(const QByteArray& url, const QByteArray& target)
{
    return action(0x83, text(url) + text(target));
}
inline QByteArray constantPool(const QList<QByteArray>& strings)
{
    QByteArray payload;
    swfwriter::u16(payload, static_cast<unsigned>(strings.size()));
    for (const QByteArray& string : strings)
        payload += text(string);
    return action(0x88, payload);
}
inline QByteArray pushString(const QByteArray& string)
{
    return action(0x96, QByteArray(1, '\0') + text(string));
}
inline QByteArray doAction(const QByteArray& actions)
{
    return tag(12, actions + '\0');
}
inline QByteArray importAssets(const QByteArray& url)
{
    QByteArray body = text(url);
    swfwriter::u16(body, 0); // no assets
    return tag(57, body);
}
/// An ActionScript 3 block whose constant pool holds `strings` and that declares `classes`,
/// each a package and a class name (small counts: each fits a byte).
inline QByteArray doAbc(QList<QByteArray> strings,
                        const QList<std::pair<QByteArray, QByteArray>>& classes = {})
{
    const auto index = [&](const QByteArray& string) {
        if (!strings.contains(string))
            strings << string;
        return static_cast<char>(strings.indexOf(string) + 1);
    };
    QByteArray namespaces;
    QByteArray multinames;
    for (const auto& [package, name] : classes) {
        namespaces += QByteArray("\x16") + index(package); // a package namespace
        multinames += QByteArray("\x07") + static_cast<char>(namespaces.size() / 2) + index(name);
    }
    QByteArray abc;
    swfwriter::u16(abc, 16);
    swfwriter::u16(abc, 46);
    abc.append(QByteArray(3, '\0')); // no integers, unsigned integers, doubles
    abc.append(static_cast<char>(strings.size() + 1));
    for (const QByteArray& string : strings)
        abc += static_cast<char>(string.size()) + string;
    if (classes.isEmpty())
        return tag(82, QByteArray(4, '\0') + text("main") + abc); // the rest left out
    abc += static_cast<char>(classes.size() + 1) + namespaces;
    abc += '\0'; // namespace sets
    abc += static_cast<char>(classes.size() + 1) + multinames;
    abc += QByteArray("\x01\x00\x00\x00\x00", 5); // one method: no parameters, no name or flags
    abc += '\0';                                  // metadata
    abc += static_cast<char>(classes.size());
    for (qsizetype i = 0; i < classes.size(); ++i) // name, base, flags, interfaces, init, traits
        abc += static_cast<char>(i + 1) + QByteArray(5, '\0');
    for (qsizetype i = 0; i < classes.size(); ++i) // each class's static init and traits
        abc += QByteArray(2, '\0');
    abc += QByteArray(2, '\0'); // scripts, method bodies
    return tag(82, QByteArray(4, '\0') + text("main") + abc);
}
inline QByteArray defineSprite(unsigned id, const QByteArray& tags)
{
    QByteArray body;
    swfwriter::u16(body, id);
    swfwriter::u16(body, 1);
    return tag(39, body + tags + tag(1, {}) + tag(0, {}));
}
/// FileAttributes with its first byte of flags (0x08 ActionScript 3, 0x01 network access).
inline QByteArray fileAttributes(unsigned flags)
{
    return tag(69, QByteArray(1, static_cast<char>(flags)) + QByteArray(3, '\0'));
}
inline QByteArray metadata(const QByteArray& xmp)
{
    return tag(77, text(xmp));
}
inline QByteArray frameLabel(const QByteArray& name)
{
    return tag(43, text(name));
}
/// ExportAssets (56) or SymbolClass (76): characters 1, 2, ... under `names`.
inline QByteArray namedCharacters(unsigned code, const QList<QByteArray>& names)
{
    QByteArray body;
    swfwriter::u16(body, static_cast<unsigned>(names.size()));
    unsigned id = 1;
    for (const QByteArray& name : names) {
        swfwriter::u16(body, id++);
        body += text(name);
    }
    return tag(code, body);
}
/// A text field showing `initial` (read as HTML when `html`), with a font and a colour.
inline QByteArray editText(unsigned id, const QByteArray& initial, bool html)
{
    QByteArray body;
    swfwriter::u16(body, id);
    body.append('\0');                                  // an empty rectangle: five bits of size 0
    body.append(static_cast<char>(0x80 | 0x04 | 0x01)); // text, colour, font
    body.append(static_cast<char>(html ? 0x02 : 0x00));
    swfwriter::u16(body, 1);            // font
    swfwriter::u16(body, 240);          // height
    body.append(QByteArray(4, '\x7f')); // colour
    return tag(37, body + text("field") + text(initial));
}
/// A button with no shapes whose release runs `actions`.
inline QByteArray defineButton2(unsigned id, const QByteArray& actions)
{
    QByteArray body;
    swfwriter::u16(body, id);
    body.append('\0');
    swfwriter::u16(body, 3); // the actions follow the offset field and the end of records
    body.append('\0');       // no character records
    swfwriter::u16(body, 0); // the last condition
    swfwriter::u16(body, 0x0008);
    return tag(34, body + actions + '\0');
}
/// Places character `id` with a load event running `actions` (a movie of version 6 or later).
inline QByteArray placeWithClipActions(unsigned id, const QByteArray& actions)
{
    QByteArray body(1, static_cast<char>(0x80 | 0x02));
    swfwriter::u16(body, 1);
    swfwriter::u16(body, id);
    swfwriter::u16(body, 0);
    body.append(QByteArray("\x01\x00\x00\x00", 4)); // all events
    body.append(QByteArray("\x01\x00\x00\x00", 4)); // on load
    const QByteArray code = actions + '\0';
    const auto size = static_cast<std::uint32_t>(code.size());
    for (int i = 0; i < 4; ++i)
        body.append(static_cast<char>((size >> (8 * i)) & 0xFF));
    body += code;
    body.append(QByteArray(4, '\0'));
    return tag(26, body);
}
/// A rectangle of one colour filling the stage from its top left corner, placed at depth 1.
inline QByteArray filledRectangle(int widthPixels, int heightPixels, std::uint8_t red,
                                  std::uint8_t green, std::uint8_t blue)
{
    const std::int32_t w = widthPixels * 20;
    const std::int32_t h = heightPixels * 20;
    const int bits = 16;
    swfwriter::Bits rect;
    rect.put(bits, 5);
    rect.put(0, bits);
    rect.put(static_cast<std::uint32_t>(w), bits);
    rect.put(0, bits);
    rect.put(static_cast<std::uint32_t>(h), bits);
    QByteArray body;
    swfwriter::u16(body, 1); // shape id
    body += rect.finish();
    body.append('\x01'); // one fill style
    body.append('\x00'); // solid
    body.append(static_cast<char>(red));
    body.append(static_cast<char>(green));
    body.append(static_cast<char>(blue));
    body.append('\x00'); // no line styles
    swfwriter::Bits shape;
    shape.put(1, 4); // fill bits
    shape.put(0, 4); // line bits
    // Move to the origin with fill style 1.
    shape.put(0, 1);
    shape.put(0b00101, 5);
    shape.put(1, 5);
    shape.put(0, 1);
    shape.put(0, 1);
    shape.put(1, 1);
    const auto edge = [&](bool vertical, std::int32_t delta) {
        shape.put(1, 1);
        shape.put(1, 1);
        shape.put(bits - 2, 4);
        shape.put(0, 1);
        shape.put(vertical ? 1 : 0, 1);
        shape.put(static_cast<std::uint32_t>(delta) & ((1u << bits) - 1), bits);
    };
    edge(false, w);
    edge(true, h);
    edge(false, -w);
    edge(true, -h);
    shape.put(0, 6); // end
    body += shape.finish();
    QByteArray place(1, '\x06'); // character and matrix
    swfwriter::u16(place, 1);
    swfwriter::u16(place, 1);
    place.append('\0'); // identity matrix
    return tag(2, body) + tag(26, place);
}

} // namespace swftags

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
    body += movie.tags;
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
