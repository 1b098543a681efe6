#include "swfreferences.h"

#include "abcnames.h"
#include "swfreader.h"

#include <lzma.h>
#include <zlib.h>

#include <QFile>
#include <QSet>

namespace {

using swf::kHeader;

bool fail(QString* error, const char* reason)
{
    if (error)
        *error = QString::fromLatin1(reason);
    return false;
}

quint32 littleEndian32(QByteArrayView bytes, qsizetype at)
{
    return static_cast<quint32>(static_cast<uchar>(bytes[at])) |
           static_cast<quint32>(static_cast<uchar>(bytes[at + 1])) << 8 |
           static_cast<quint32>(static_cast<uchar>(bytes[at + 2])) << 16 |
           static_cast<quint32>(static_cast<uchar>(bytes[at + 3])) << 24;
}

bool inflateInto(QByteArrayView packed, QByteArray& out)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(std::min<qsizetype>(packed.size(), INT_MAX));
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + kHeader);
    stream.avail_out = static_cast<uInt>(out.size() - kHeader);
    const int result = inflate(&stream, Z_FINISH);
    const qsizetype produced = out.size() - kHeader - stream.avail_out;
    inflateEnd(&stream);
    out.truncate(kHeader + produced);
    // A stream cut short still gives what it holds: its tags up to the cut are read.
    return result == Z_STREAM_END || result == Z_BUF_ERROR || result == Z_OK;
}

bool unlzmaInto(QByteArrayView rest, QByteArray& out)
{
    // Four bytes of compressed length, five of properties, then the raw stream; the ".lzma"
    // decoder wants the properties followed by the unpacked size.
    if (rest.size() < 9)
        return false;
    QByteArray alone = rest.sliced(4, 5).toByteArray();
    quint64 size = static_cast<quint64>(out.size() - kHeader);
    for (int i = 0; i < 8; ++i, size >>= 8)
        alone.append(static_cast<char>(size & 0xFF));
    alone.append(rest.sliced(9).toByteArray());
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&stream, 256 * 1024 * 1024) != LZMA_OK)
        return false;
    stream.next_in = reinterpret_cast<const uint8_t*>(alone.constData());
    stream.avail_in = static_cast<size_t>(alone.size());
    stream.next_out = reinterpret_cast<uint8_t*>(out.data() + kHeader);
    stream.avail_out = static_cast<size_t>(out.size() - kHeader);
    const lzma_ret result = lzma_code(&stream, LZMA_FINISH);
    const qsizetype produced = out.size() - kHeader - static_cast<qsizetype>(stream.avail_out);
    lzma_end(&stream);
    out.truncate(kHeader + produced);
    return result == LZMA_STREAM_END || result == LZMA_OK || result == LZMA_BUF_ERROR;
}

using swf::Reader;

/// Collects the strings that name loadable files, each once.
class Collector
{
public:
    void offer(QByteArrayView bytes)
    {
        if (bytes.size() < 5 || bytes.size() > 2048)
            return;
        const QString text = QString::fromUtf8(bytes).trimmed();
        if (!NamesLoadableFile(text) || m_seen.contains(text))
            return;
        m_seen.insert(text);
        m_found << text;
    }
    /// The packages the movie's own code declares: names below them are code, not files.
    void notePackages(const QStringList& packages)
    {
        for (const QString& package : packages)
            m_codePrefixes << package + u'.';
    }
    /// What was offered that names a file: a dotted name below a package the movie declares,
    /// or below one of the usual packages of code, names a class.
    QStringList found() const
    {
        QStringList files;
        for (const QString& text : m_found) {
            if (!isCode(text))
                files << text;
        }
        return files;
    }

private:
    /// Whether the text, up to one of its dots, is a package of code.
    bool isCode(const QString& text) const
    {
        for (qsizetype dot = text.indexOf(u'.'); dot >= 0; dot = text.indexOf(u'.', dot + 1)) {
            if (m_codePrefixes.contains(text.left(dot + 1)))
                return true;
        }
        return false;
    }

    QSet<QString> m_seen;
    QStringList m_found;
    QSet<QString> m_codePrefixes{QStringLiteral("com."), QStringLiteral("org."),
                                 QStringLiteral("net."), QStringLiteral("flash."),
                                 QStringLiteral("fl."),  QStringLiteral("mx.")};
};

/// Action records one after another, up to an End action or the end of the bytes. Function
/// bodies follow their definitions as ordinary records, so one walk reads them too.
void readActions(QByteArrayView actions, Collector& collector)
{
    Reader reader(actions);
    while (!reader.atEnd()) {
        const quint32 code = reader.u8();
        if (code == 0)
            return;
        if (code < 0x80)
            continue;
        Reader payload(reader.bytes(reader.u16()));
        if (!reader.ok())
            return;
        switch (code) {
        case 0x83: // GetURL: the address, then the target
            collector.offer(payload.string());
            break;
        case 0x88: { // ConstantPool
            const quint32 count = payload.u16();
            for (quint32 i = 0; i < count && payload.ok(); ++i)
                collector.offer(payload.string());
            break;
        }
        case 0x96: // Push: typed values one after another
            while (!payload.atEnd()) {
                switch (payload.u8()) {
                case 0:
                    collector.offer(payload.string());
                    break;
                case 1:
                case 7:
                    payload.skip(4);
                    break;
                case 4:
                case 5:
                case 8:
                    payload.skip(1);
                    break;
                case 6:
                    payload.skip(8);
                    break;
                case 9:
                    payload.skip(2);
                    break;
                case 2:
                case 3:
                    break;
                default:
                    payload.skip(payload.left() + 1);
                    break; // unknown: stop
                }
            }
            break;
        default:
            break;
        }
    }
}

/// The clip event handlers of a placed sprite.
void readClipActions(Reader& reader, int version, Collector& collector)
{
    const int flagBytes = version >= 6 ? 4 : 2;
    reader.u16();           // reserved
    reader.skip(flagBytes); // every event used
    while (reader.ok()) {
        const quint32 events = flagBytes == 4 ? reader.u32() : reader.u16();
        if (events == 0 || !reader.ok())
            return;
        const qsizetype size = reader.u32();
        readActions(reader.bytes(size), collector);
    }
}

void readPlaceObject(Reader& reader, bool third, int version, Collector& collector)
{
    const quint32 flags = reader.u8();
    quint32 moreFlags = 0;
    if (third)
        moreFlags = reader.u8();
    reader.u16(); // depth
    if (third && (moreFlags & 0x08 || (moreFlags & 0x10 && flags & 0x02)))
        reader.string(); // class name
    if (flags & 0x02)
        reader.u16(); // character
    if (flags & 0x04)
        swf::skipMatrix(reader);
    if (flags & 0x08)
        swf::skipColourTransform(reader, true);
    if (flags & 0x10)
        reader.u16(); // ratio
    if (flags & 0x20)
        reader.string(); // name
    if (flags & 0x40)
        reader.u16(); // clip depth
    // Filters, blend modes and cached bitmaps come before the clip actions of the third form:
    // such a tag is rare in movies with clip actions and is not read further.
    if (third && (moreFlags & 0x07))
        return;
    if (flags & 0x80)
        readClipActions(reader, version, collector);
}

void readButton(Reader& reader, bool second, Collector& collector)
{
    reader.u16(); // id
    if (second) {
        reader.u8(); // menu flag
        const qsizetype offsetAt = reader.position();
        const quint32 offset = reader.u16();
        if (offset == 0)
            return;
        reader.skip(offsetAt + offset - reader.position());
        while (reader.ok()) {
            const quint32 size = reader.u16();
            reader.u16(); // conditions
            readActions(reader.bytes(size == 0 ? reader.left() : size - 4), collector);
            if (size == 0)
                return;
        }
        return;
    }
    // The first form: character records up to a zero byte, then its actions.
    while (reader.ok()) {
        if (reader.u8() == 0)
            break;
        reader.u16(); // character
        reader.u16(); // depth
        swf::skipMatrix(reader);
    }
    readActions(reader.bytes(reader.left()), collector);
}

/// The string constants of an ActionScript 3 block, and the packages its classes are in.
void readAbc(quint32 code, QByteArrayView body, Collector& collector)
{
    const AbcNames names = ReadAbcNames(code, body);
    for (const QByteArrayView string : names.strings)
        collector.offer(string);
    collector.notePackages(names.packages);
}

/// What one tag's code names, whichever timeline it is in.
void readTag(quint32 code, QByteArrayView body, int version, Collector& collector)
{
    Reader tag(body);
    switch (code) {
    case swf::DoAction:
        readActions(body, collector);
        break;
    case swf::DoInitAction:
        tag.u16(); // sprite
        readActions(tag.bytes(tag.left()), collector);
        break;
    case swf::PlaceObject2:
    case swf::PlaceObject3:
        readPlaceObject(tag, code == swf::PlaceObject3, version, collector);
        break;
    case swf::DefineButton:
    case swf::DefineButton2:
        readButton(tag, code == swf::DefineButton2, collector);
        break;
    case swf::ImportAssets:
    case swf::ImportAssets2:
        collector.offer(tag.string());
        break;
    case swf::DoAbc:
    case swf::DoAbcOld:
        readAbc(code, body, collector);
        break;
    default:
        break;
    }
}

} // namespace

std::optional<QByteArray> UncompressedMovie(QByteArrayView file, qint64 maxBytes, QString* error)
{
    if (file.size() < kHeader ||
        (!file.startsWith("FWS") && !file.startsWith("CWS") && !file.startsWith("ZWS"))) {
        fail(error, "not a Flash movie");
        return std::nullopt;
    }
    const quint32 declared = littleEndian32(file, 4);
    if (declared < kHeader || declared > maxBytes) {
        fail(error, "the movie's announced length is impossible or too large");
        return std::nullopt;
    }
    if (file.startsWith("FWS"))
        return file.first(std::min<qsizetype>(file.size(), declared)).toByteArray();
    QByteArray out(declared, Qt::Uninitialized);
    std::memcpy(out.data(), "FWS", 3);
    std::memcpy(out.data() + 3, file.data() + 3, kHeader - 3);
    const bool unpacked = file.startsWith("CWS") ? inflateInto(file.sliced(kHeader), out)
                                                 : unlzmaInto(file.sliced(kHeader), out);
    if (!unpacked) {
        fail(error, "the compressed movie is damaged");
        return std::nullopt;
    }
    return out;
}

bool NamesLoadableFile(QStringView text)
{
    static const QStringList kExtensions{
        QStringLiteral(".swf"),  QStringLiteral(".xml"), QStringLiteral(".txt"),
        QStringLiteral(".json"), QStringLiteral(".jpg"), QStringLiteral(".png"),
        QStringLiteral(".gif"),  QStringLiteral(".mp3"), QStringLiteral(".flv")};
    qsizetype end = text.size();
    for (const QChar stop : {u'#', u'?'}) {
        if (const qsizetype at = text.first(end).indexOf(stop); at >= 0)
            end = at;
    }
    const QStringView path = text.first(end);
    if (path.contains(u' ') || path.contains(u'\n') || path.contains(u'<'))
        return false;
    return std::any_of(kExtensions.cbegin(), kExtensions.cend(), [&](const QString& extension) {
        return path.size() > extension.size() && path.endsWith(extension, Qt::CaseInsensitive);
    });
}

QStringList NamedFileReferences(QByteArrayView movie)
{
    Collector collector;
    const int version = movie.size() > 3 ? static_cast<uchar>(movie[3]) : 0;
    swf::ForEachTag(swf::TagsOf(movie), [&](quint32 code, QByteArrayView body) {
        readTag(code, body, version, collector);
    });
    return collector.found();
}

QStringList NamedFileReferencesOfFile(const QString& path, qint64 maxFileBytes)
{
    QFile file(path);
    if (file.size() > maxFileBytes || !file.open(QIODevice::ReadOnly))
        return {};
    const std::optional<QByteArray> movie = UncompressedMovie(file.readAll(), 4 * maxFileBytes);
    return movie ? NamedFileReferences(*movie) : QStringList();
}
