#include "swfcontents.h"

#include "abcnames.h"
#include "swfinfo.h"

#include "swfreader.h"
#include "swfreferences.h"

#include <QFile>
#include <QSet>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

/// The facts as they are gathered, each list's entries once, all of them within the bound.
class Gathered
{
public:
    void add(QStringList& list, QString text)
    {
        text = text.trimmed();
        if (text.isEmpty() || m_room < text.size() || m_seen[&list].contains(text))
            return;
        m_room -= text.size();
        m_seen[&list].insert(text);
        list << text;
    }
    /// A single fact (a title): the first one found stays.
    void set(QString& fact, QString text)
    {
        text = text.trimmed();
        if (!fact.isEmpty() || text.size() > m_room)
            return;
        m_room -= text.size();
        fact = text;
    }

private:
    qsizetype m_room = kMaxContentsText;
    QHash<const QStringList*, QSet<QString>> m_seen;
};

/// Text as a movie stores it: UTF-8 from version 6 on, the author's code page before (taken as
/// Latin-1, which keeps every byte).
QString movieText(QByteArrayView bytes, int version)
{
    return version >= 6 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

/// The words of an HTML text field without its markup.
QString withoutMarkup(const QString& html)
{
    QString plain;
    bool inTag = false;
    for (const QChar c : html) {
        if (c == u'<')
            inTag = true;
        else if (c == u'>')
            inTag = false;
        else if (!inTag)
            plain += c;
    }
    return plain.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
        .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
        .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
        .replace(QStringLiteral("&apos;"), QStringLiteral("'"))
        .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
}

/// The initial text of a text field (DefineEditText), when it has one.
QString editText(QByteArrayView body, int version)
{
    swf::Reader reader(body);
    reader.u16(); // character
    swf::skipRect(reader);
    const quint32 flags = reader.u8();
    const quint32 moreFlags = reader.u8();
    const bool hasText = flags & 0x80;
    const bool hasFont = flags & 0x01;
    const bool hasFontClass = moreFlags & 0x80;
    if (hasFont)
        reader.u16();
    if (hasFontClass)
        reader.string();
    if (hasFont || hasFontClass)
        reader.u16(); // height
    if (flags & 0x04)
        reader.u32(); // colour
    if (flags & 0x02)
        reader.u16(); // most characters
    if (moreFlags & 0x20)
        reader.skip(9); // layout
    reader.string();    // variable name
    if (!hasText)
        return {};
    const QByteArrayView text = reader.string();
    if (!reader.ok())
        return {};
    const QString decoded = movieText(text, version);
    return moreFlags & 0x02 ? withoutMarkup(decoded) : decoded;
}

/// The first words within the element the reader is at, which it leaves behind: an rdf:Alt of
/// languages gives its first.
QString firstText(QXmlStreamReader& reader)
{
    QString found;
    for (int depth = 1; depth > 0 && !reader.atEnd() && !reader.hasError();) {
        reader.readNext();
        if (reader.isStartElement())
            ++depth;
        else if (reader.isEndElement())
            --depth;
        else if (reader.isCharacters() && !reader.isWhitespace() && found.isEmpty())
            found = reader.text().left(kMaxContentsText).toString();
    }
    return found;
}

/// The title and description of the metadata tag's XMP (Dublin Core).
void readMetadata(QByteArrayView xmp, Gathered& gathered, SwfContents& contents)
{
    QXmlStreamReader reader(xmp.toByteArray());
    while (!reader.atEnd() && !reader.hasError()) {
        reader.readNext();
        if (!reader.isStartElement() ||
            reader.namespaceUri() != u"http://purl.org/dc/elements/1.1/")
            continue;
        if (reader.name() == u"title")
            gathered.set(contents.title, firstText(reader));
        else if (reader.name() == u"description")
            gathered.set(contents.description, firstText(reader));
    }
}

/// Names of exported symbols or classes: a count, then each character's number and name.
void readNames(QByteArrayView body, int version, Gathered& gathered, QStringList& names)
{
    swf::Reader reader(body);
    const quint32 count = reader.u16();
    for (quint32 i = 0; i < count && reader.ok(); ++i) {
        reader.u16();
        const QByteArrayView name = reader.string();
        if (reader.ok())
            gathered.add(names, movieText(name, version));
    }
}

} // namespace

bool SwfContents::contains(QStringView text) const
{
    const auto inList = [&](const QStringList& list) {
        return std::any_of(list.cbegin(), list.cend(), [&](const QString& entry) {
            return entry.contains(text, Qt::CaseInsensitive);
        });
    };
    return title.contains(text, Qt::CaseInsensitive) ||
           description.contains(text, Qt::CaseInsensitive) || inList(frameLabels) ||
           inList(symbols) || inList(texts) || inList(addresses);
}

std::optional<SwfContents> ReadSwfContentsOfFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    if (file.size() > kMaxFactsFile) {
        if (error)
            *error = QStringLiteral("the file is larger than %1 MiB").arg(kMaxFactsFile >> 20);
        return std::nullopt;
    }
    const std::optional<QByteArray> movie =
        UncompressedMovie(file.readAll(), 4 * kMaxFactsFile, error);
    if (!movie)
        return std::nullopt;
    SwfContents contents = ReadSwfContents(*movie);
    if (const std::optional<SwfInfo> header = ReadSwfInfoFromFile(path)) {
        contents.fileSize = header->fileSize;
        contents.declaredLength = header->declaredLength;
        contents.lengthWarning = SwfLengthWarning(*header);
    }
    return contents;
}

SwfContents ReadSwfContents(QByteArrayView movie)
{
    SwfContents contents;
    Gathered gathered;
    const int version = movie.size() > 3 ? static_cast<uchar>(movie[3]) : 0;
    swf::ForEachTag(swf::TagsOf(movie), [&](quint32 code, QByteArrayView body) {
        swf::Reader reader(body);
        switch (code) {
        case swf::FileAttributes: {
            const quint32 flags = reader.u8();
            contents.actionScript = flags & 0x08 ? 3 : contents.actionScript;
            contents.useNetwork = flags & 0x01;
            break;
        }
        case swf::DoAbc:
        case swf::DoAbcOld:
            contents.actionScript = 3;
            for (const QString& name : ReadAbcNames(code, body).classes)
                gathered.add(contents.symbols, name);
            break;
        case swf::Metadata:
            readMetadata(reader.string(), gathered, contents);
            break;
        case swf::FrameLabel:
            gathered.add(contents.frameLabels, movieText(reader.string(), version));
            break;
        case swf::ExportAssets:
        case swf::SymbolClass:
            readNames(body, version, gathered, contents.symbols);
            break;
        case swf::DefineEditText:
            gathered.add(contents.texts, editText(body, version));
            break;
        default:
            break;
        }
    });
    for (const QString& address : NamedFileReferences(movie))
        gathered.add(contents.addresses, address);
    return contents;
}
