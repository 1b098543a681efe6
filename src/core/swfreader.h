#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <functional>

// Reading a movie's structure without ever trusting it: the fields of its tags, and its tags one
// after another, those of its sprites included. What reads movies (the files their code names,
// the facts they hold) builds on this.
namespace swf {

/// The bytes of a header before the frame size: signature, version and length.
inline constexpr qsizetype kHeader = 8;

/// Reads a movie's little-endian fields without ever going past its end: a read beyond it
/// fails and every later one too.
class Reader
{
public:
    explicit Reader(QByteArrayView bytes)
        : m_bytes(bytes)
    {
    }
    bool ok() const { return m_ok; }
    bool atEnd() const { return !m_ok || m_at >= m_bytes.size(); }
    qsizetype position() const { return m_at; }
    qsizetype left() const { return m_ok ? m_bytes.size() - m_at : 0; }

    quint32 u8() { return static_cast<quint32>(take(1)); }
    quint32 u16() { return static_cast<quint32>(take(2)); }
    quint32 u32() { return static_cast<quint32>(take(4)); }
    /// A variable-length 30-bit integer of ActionScript 3 byte code.
    quint32 u30()
    {
        quint32 value = 0;
        for (int shift = 0; shift < 35; shift += 7) {
            const quint32 byte = u8();
            value |= (byte & 0x7F) << shift;
            if (!(byte & 0x80))
                break;
        }
        return value;
    }
    void skip(qsizetype count)
    {
        if (count < 0 || count > left())
            m_ok = false;
        else
            m_at += count;
    }
    QByteArrayView bytes(qsizetype count)
    {
        if (count < 0 || count > left()) {
            m_ok = false;
            return {};
        }
        const QByteArrayView view = m_bytes.sliced(m_at, count);
        m_at += count;
        return view;
    }
    /// A string ended by a zero byte.
    QByteArrayView string()
    {
        const qsizetype end = m_ok ? m_bytes.indexOf('\0', m_at) : -1;
        if (end < 0) {
            m_ok = false;
            return {};
        }
        const QByteArrayView text = m_bytes.sliced(m_at, end - m_at);
        m_at = end + 1;
        return text;
    }

private:
    quint64 take(int count)
    {
        if (!m_ok || left() < count) {
            m_ok = false;
            return 0;
        }
        quint64 value = 0;
        for (int i = 0; i < count; ++i)
            value |= static_cast<quint64>(static_cast<uchar>(m_bytes[m_at + i])) << (8 * i);
        m_at += count;
        return value;
    }

    QByteArrayView m_bytes;
    qsizetype m_at = 0;
    bool m_ok = true;
};

/// Bit fields as the shape records store them, most significant bit first.
class BitFields
{
public:
    explicit BitFields(Reader& reader)
        : m_reader(reader)
    {
    }
    quint32 take(int count)
    {
        quint32 value = 0;
        for (int i = 0; i < count; ++i) {
            if (m_used == 8) {
                m_byte = m_reader.u8();
                m_used = 0;
            }
            value = (value << 1) | ((m_byte >> (7 - m_used)) & 1u);
            ++m_used;
        }
        return value;
    }

private:
    Reader& m_reader;
    quint32 m_byte = 0;
    int m_used = 8;
};

inline void skipRect(Reader& reader)
{
    BitFields bits(reader);
    const int size = static_cast<int>(bits.take(5));
    bits.take(4 * size);
}

inline void skipMatrix(Reader& reader)
{
    BitFields bits(reader);
    for (int part = 0; part < 2; ++part) { // scale, then rotation: each optional
        if (bits.take(1))
            bits.take(2 * static_cast<int>(bits.take(5)));
    }
    bits.take(2 * static_cast<int>(bits.take(5)));
}

inline void skipColourTransform(Reader& reader, bool withAlpha)
{
    BitFields bits(reader);
    const bool add = bits.take(1);
    const bool multiply = bits.take(1);
    const int size = static_cast<int>(bits.take(4));
    const int terms = withAlpha ? 4 : 3;
    bits.take(size * terms * ((add ? 1 : 0) + (multiply ? 1 : 0)));
}

enum Tag : quint32
{
    End = 0,
    DefineButton = 7,
    DoAction = 12,
    PlaceObject2 = 26,
    DefineButton2 = 34,
    DefineEditText = 37,
    DefineSprite = 39,
    FrameLabel = 43,
    ExportAssets = 56,
    ImportAssets = 57,
    DoInitAction = 59,
    FileAttributes = 69,
    PlaceObject3 = 70,
    ImportAssets2 = 71,
    DoAbcOld = 72,
    SymbolClass = 76,
    Metadata = 77,
    DoAbc = 82,
};

/// Hears one tag: its code and its body.
using TagVisit = std::function<void(quint32 code, QByteArrayView body)>;

/// Visits the tags of a timeline in order, up to its End tag or the end of the bytes, and those
/// of each sprite where it is defined (sprites within sprites to a depth of 8: they do not nest
/// in real movies, and a damaged one must not recurse for ever).
void ForEachTag(QByteArrayView tags, const TagVisit& visit, int depth = 0);

/// The main timeline's tags of an uncompressed movie, after the header; empty for one cut
/// before them.
QByteArrayView TagsOf(QByteArrayView movie);

} // namespace swf
