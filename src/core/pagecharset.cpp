#include "pagecharset.h"

#include <QList>
#include <QStringDecoder>

#include <iconv.h>

#include <array>
#include <cerrno>

namespace {

/// The bytes 0x80–0x9F of windows-1252; the five it leaves undefined map to the C1 controls of
/// the same number, as the WHATWG standard and browsers have it.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

QByteArray lowered(QByteArrayView text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = lower(text[i]);
    return out;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

/// The one name of an encoding label; empty for a label no browser knows.
QByteArray canonicalName(QByteArrayView label)
{
    QByteArray name = lowered(label).trimmed();
    if (name.startsWith('"') || name.startsWith('\''))
        name = name.mid(1);
    if (name.endsWith('"') || name.endsWith('\''))
        name.chop(1);
    name = name.trimmed();
    if (name.isEmpty() || name.size() > 40)
        return {};
    if (name == "utf-8" || name == "utf8" || name == "unicode-1-1-utf-8")
        return "utf-8";
    if (name == "utf-16" || name == "utf-16le" || name == "unicode")
        return "utf-16le";
    if (name == "utf-16be")
        return "utf-16be";
    if (name == "iso-8859-1" || name == "latin1" || name == "l1" || name == "ascii" ||
        name == "us-ascii" || name == "windows-1252" || name == "cp1252" || name == "x-cp1252" ||
        name == "iso8859-1" || name == "iso_8859-1" || name == "cp819")
        return "windows-1252";
    if (name == "x-sjis" || name == "shift-jis" || name == "sjis" || name == "ms_kanji")
        return "shift_jis";
    if (name == "gb2312" || name == "x-gbk" || name == "chinese")
        return "gbk";
    // Other labels are taken as the system's converter names them (euc-jp, koi8-r, big5 …).
    for (const char c : name) {
        if (!(c >= 'a' && c <= 'z') && !(c >= '0' && c <= '9') && c != '-' && c != '_' &&
            c != '.' && c != ':')
            return {};
    }
    return name;
}

/// The value after "charset" in a header or a meta's content, or empty.
QByteArray charsetParameter(QByteArrayView text)
{
    const QByteArray low = lowered(text);
    const qsizetype at = low.indexOf("charset");
    if (at < 0)
        return {};
    qsizetype i = at + 7;
    while (i < low.size() && isBlank(low[i]))
        ++i;
    if (i >= low.size() || low[i] != '=')
        return {};
    ++i;
    while (i < low.size() && isBlank(low[i]))
        ++i;
    const char quote = i < low.size() && (low[i] == '"' || low[i] == '\'') ? low[i] : 0;
    if (quote)
        ++i;
    qsizetype end = i;
    while (end < low.size() && low[end] != ';' && low[end] != quote && !isBlank(low[end]) &&
           low[end] != '>' && (quote || (low[end] != '"' && low[end] != '\'')))
        ++end;
    return canonicalName(QByteArrayView(text).sliced(i, end - i));
}

/// The charset a <meta> in the page's first 1024 bytes declares, or empty.
QByteArray metaCharset(QByteArrayView body)
{
    const QByteArray head = lowered(body.first(std::min<qsizetype>(body.size(), 1024)));
    for (qsizetype at = head.indexOf("<meta"); at >= 0; at = head.indexOf("<meta", at + 5)) {
        const qsizetype end = head.indexOf('>', at);
        const QByteArrayView tag =
            QByteArrayView(head).sliced(at, (end < 0 ? head.size() : end) - at);
        QByteArray found = charsetParameter(tag);
        if (found.isEmpty())
            continue;
        // A page cannot declare itself UTF-16 from inside: its bytes were read as ASCII.
        return found.startsWith("utf-16") ? QByteArray("utf-8") : found;
    }
    return {};
}

QString decodeWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = QChar(byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte);
    }
    return text;
}

/// Converts with one of the system's iconv converters to UTF-8; a sequence it cannot read
/// becomes U+FFFD.
QString decodeWithIconv(iconv_t converter, QByteArrayView bytes)
{
    iconv(converter, nullptr, nullptr, nullptr, nullptr); // from its initial state
    QByteArray out;
    char buffer[4096];
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = static_cast<size_t>(bytes.size());
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t done = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<qsizetype>(sizeof buffer - outLeft));
        if (done == static_cast<size_t>(-1) && errno != E2BIG) {
            // EILSEQ or a cut sequence at the end: one byte is replaced, and on.
            out.append("\xEF\xBF\xBD");
            ++in;
            --inLeft;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return QString::fromUtf8(out);
}

/// The character in the encoding, or empty when it cannot hold it.
QByteArray encodeWithIconv(const QByteArray& charset, QStringView character)
{
    iconv_t converter = iconv_open(charset.constData(), "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return {};
    QByteArray in = character.toUtf8();
    char buffer[16];
    char* inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t done = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    if (done == static_cast<size_t>(-1) || inLeft != 0)
        return {};
    return QByteArray(buffer, static_cast<qsizetype>(sizeof buffer - outLeft));
}

QByteArray encodeWindows1252(QStringView character)
{
    const char32_t code = character.toUcs4().value(0);
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return QByteArray(1, static_cast<char>(code));
    for (std::size_t i = 0; i < kWindows1252High.size(); ++i) {
        if (kWindows1252High[i] == code)
            return QByteArray(1, static_cast<char>(0x80 + i));
    }
    return {};
}

} // namespace

QByteArray PageCharset(QByteArrayView body, QByteArrayView contentType)
{
    if (body.startsWith("\xEF\xBB\xBF"))
        return "utf-8";
    if (body.startsWith("\xFE\xFF"))
        return "utf-16be";
    if (body.startsWith("\xFF\xFE"))
        return "utf-16le";
    if (QByteArray fromHeader = charsetParameter(contentType); !fromHeader.isEmpty())
        return fromHeader;
    if (QByteArray fromMeta = metaCharset(body); !fromMeta.isEmpty())
        return fromMeta;
    return "windows-1252";
}

PageDecoder::PageDecoder(QByteArray charset)
    : m_charset(std::move(charset))
{
    if (m_charset == "utf-8" || m_charset == "windows-1252" || isUtf16())
        return;
    // Opened once for the page: a page may hold a hundred thousand references.
    iconv_t converter = iconv_open("UTF-8", m_charset.constData());
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        m_charset = "windows-1252";
        return;
    }
    m_toUtf8 = std::shared_ptr<void>(converter, [](void* open) { iconv_close(open); });
}

bool PageDecoder::isUtf16() const
{
    return m_charset == "utf-16le" || m_charset == "utf-16be";
}

QString PageDecoder::decode(QByteArrayView bytes) const
{
    if (m_charset == "utf-8")
        return QString::fromUtf8(bytes);
    if (m_charset == "windows-1252")
        return decodeWindows1252(bytes);
    if (isUtf16()) {
        QStringDecoder decoder(m_charset == "utf-16le" ? QStringConverter::Utf16LE
                                                       : QStringConverter::Utf16BE);
        return decoder.decode(bytes);
    }
    return decodeWithIconv(m_toUtf8.get(), bytes);
}

QByteArray PageDecoder::toUtf8(QByteArrayView bytes) const
{
    return decode(bytes).toUtf8();
}

QString PageDecoder::encodeQuery(const QString& address) const
{
    const qsizetype query = address.indexOf(u'?');
    if (query < 0 || m_charset == "utf-8" || isUtf16())
        return address;
    QString out = address.left(query + 1);
    for (qsizetype i = query + 1; i < address.size(); ++i) {
        const QChar c = address[i];
        if (c.unicode() < 0x80) {
            out += c;
            continue;
        }
        const qsizetype length = c.isHighSurrogate() && i + 1 < address.size() ? 2 : 1;
        const QStringView character = QStringView(address).mid(i, length);
        i += length - 1;
        QByteArray bytes = m_charset == "windows-1252" ? encodeWindows1252(character)
                                                       : encodeWithIconv(m_charset, character);
        if (bytes.isEmpty())
            bytes = "&#" + QByteArray::number(character.toUcs4().value(0)) + ';';
        out += QString::fromLatin1(bytes.toPercentEncoding());
    }
    return out;
}
