#include "moviefacts.h"

#include <algorithm>
#include <limits>

#include "atomicwrite.h"
#include "keptfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <functional>
#include <optional>

namespace {

/// The most the store's file may hold: ten thousand movies of rich facts fit many times over.
constexpr qint64 kMaxStoreFile = qint64(256) << 20;

QStringList stringsOf(const QJsonValue& value)
{
    QStringList strings;
    for (const QJsonValue& entry : value.toArray())
        strings << entry.toString();
    return strings;
}

/// Calls `member` with the bytes of each member ("key":value) of the JSON object `object`
/// holds, each whole and unparsed; false when it is no object as this store writes them. The
/// store is read so, one member at a time, so that it is never held twice in memory.
bool forEachMember(QByteArrayView object, const std::function<void(QByteArrayView)>& member)
{
    const qsizetype size = object.size();
    qsizetype at = 0;
    if (size < 2 || object[0] != '{')
        return false;
    if (object[1] == '}')
        return size == 2;
    for (++at;;) {
        const qsizetype start = at;
        int depth = 0;
        bool inString = false;
        for (; at < size; ++at) {
            const char c = object[at];
            if (inString) {
                if (c == '\\')
                    ++at;
                else if (c == '"')
                    inString = false;
            } else if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                if (depth == 0)
                    break;
                --depth;
            } else if (c == ',' && depth == 0) {
                break;
            }
        }
        if (at >= size || at == start)
            return false;
        member(object.sliced(start, at - start));
        if (object[at] == '}')
            return at + 1 == size;
        ++at;
    }
}

/// The one key and value of a member's bytes.
std::optional<std::pair<QString, QJsonObject>> parsedMember(QByteArrayView member)
{
    const QJsonDocument one =
        QJsonDocument::fromJson(QByteArray("{") + member.toByteArray() + QByteArray("}"));
    const QJsonObject object = one.object();
    if (!one.isObject() || object.size() != 1 || !object.begin().value().isObject())
        return std::nullopt;
    return std::pair{object.begin().key(), object.begin().value().toObject()};
}

} // namespace

QJsonObject SwfContentsJson(const SwfContents& facts)
{
    return {{QStringLiteral("actionScript"), facts.actionScript},
            {QStringLiteral("useNetwork"), facts.useNetwork},
            {QStringLiteral("title"), facts.title},
            {QStringLiteral("description"), facts.description},
            {QStringLiteral("frameLabels"), QJsonArray::fromStringList(facts.frameLabels)},
            {QStringLiteral("symbols"), QJsonArray::fromStringList(facts.symbols)},
            {QStringLiteral("texts"), QJsonArray::fromStringList(facts.texts)},
            {QStringLiteral("addresses"), QJsonArray::fromStringList(facts.addresses)},
            {QStringLiteral("fileSize"), facts.fileSize},
            {QStringLiteral("declaredLength"), qint64(facts.declaredLength)},
            {QStringLiteral("lengthWarning"), facts.lengthWarning},
            {QStringLiteral("classesRead"), true}};
}

SwfContents SwfContentsFromJson(const QJsonObject& object)
{
    SwfContents facts;
    facts.actionScript = object.value(QStringLiteral("actionScript")).toInt(1) == 3 ? 3 : 1;
    facts.useNetwork = object.value(QStringLiteral("useNetwork")).toBool();
    facts.title = object.value(QStringLiteral("title")).toString();
    facts.description = object.value(QStringLiteral("description")).toString();
    facts.frameLabels = stringsOf(object.value(QStringLiteral("frameLabels")));
    facts.symbols = stringsOf(object.value(QStringLiteral("symbols")));
    facts.texts = stringsOf(object.value(QStringLiteral("texts")));
    facts.addresses = stringsOf(object.value(QStringLiteral("addresses")));
    facts.fileSize = object.value(QStringLiteral("fileSize")).toInteger(-1);
    facts.declaredLength =
        quint32(std::clamp<qint64>(object.value(QStringLiteral("declaredLength")).toInteger(), 0,
                                   std::numeric_limits<quint32>::max()));
    facts.lengthWarning = object.value(QStringLiteral("lengthWarning")).toString();
    return facts;
}

MovieFactsStore::MovieFactsStore(const QString& dataFolder)
    : m_path(QDir(dataFolder).filePath(fileName()))
{
}

bool MovieFactsStore::load(QString* error)
{
    m_facts.clear();
    m_files.clear();
    m_changed = false;
    QFile file(m_path);
    if (!file.exists())
        return true;
    // Mapped, not read into memory: the members are taken one at a time from the file's pages.
    const uchar* mapped = file.size() <= kMaxStoreFile && file.open(QIODevice::ReadOnly)
                              ? file.map(0, file.size())
                              : nullptr;
    const QByteArrayView text(reinterpret_cast<const char*>(mapped), mapped ? file.size() : 0);
    bool whole = mapped != nullptr;
    const auto takeMovie = [&](QByteArrayView member) {
        const auto movie = parsedMember(member);
        whole = whole && movie;
        // Facts read before the movie's length was, or before the classes of its ActionScript 3
        // code were, are read again, once.
        const auto current = [](const QJsonObject& facts) {
            return facts.contains(QStringLiteral("fileSize")) &&
                   (facts.value(QStringLiteral("actionScript")).toInt() != 3 ||
                    facts.contains(QStringLiteral("classesRead")));
        };
        if (movie && current(movie->second))
            m_facts.insert(movie->first.toLatin1(), SwfContentsFromJson(movie->second));
    };
    const auto takeFile = [&](QByteArrayView member) {
        const auto known = parsedMember(member);
        whole = whole && known;
        if (known)
            m_files.insert(
                known->first,
                {known->second.value(QStringLiteral("size")).toInteger(-1),
                 QDateTime::fromString(known->second.value(QStringLiteral("modified")).toString(),
                                       Qt::ISODateWithMs),
                 known->second.value(QStringLiteral("sha256")).toString().toLatin1()});
    };
    const QByteArray moviesKey = "\"movies\":";
    const QByteArray filesKey = "\"files\":";
    whole = whole && forEachMember(text, [&](QByteArrayView part) {
                if (part.startsWith(moviesKey))
                    whole = whole && forEachMember(part.sliced(moviesKey.size()), takeMovie);
                else if (part.startsWith(filesKey))
                    whole = whole && forEachMember(part.sliced(filesKey.size()), takeFile);
            });
    if (!whole) {
        m_facts.clear();
        m_files.clear();
        if (error)
            *error = m_path + QStringLiteral(" cannot be read; the facts are read again from the "
                                             "movies");
        return false;
    }
    return true;
}

void MovieFactsStore::keepOnly(const QSet<QByteArray>& contents, const QSet<QString>& paths)
{
    const qsizetype before = m_facts.size() + m_files.size();
    m_files.removeIf([&](const auto& file) { return !paths.contains(file.key()); });
    QSet<QByteArray> wanted = contents;
    for (const KnownFile& file : std::as_const(m_files))
        wanted.insert(file.sha256);
    m_facts.removeIf([&](const auto& facts) { return !wanted.contains(facts.key()); });
    if (m_facts.size() + m_files.size() != before)
        m_changed = true;
}

bool MovieFactsStore::save(QString* error)
{
    if (!m_changed)
        return true;
    QJsonObject movies;
    for (auto it = m_facts.cbegin(); it != m_facts.cend(); ++it)
        movies.insert(QString::fromLatin1(it.key()), SwfContentsJson(it.value()));
    QJsonObject files;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
        files.insert(
            it.key(),
            QJsonObject{{QStringLiteral("size"), it->size},
                        {QStringLiteral("modified"), it->modified.toString(Qt::ISODateWithMs)},
                        {QStringLiteral("sha256"), QString::fromLatin1(it->sha256)}});
    const QByteArray text = QJsonDocument(QJsonObject{{QStringLiteral("movies"), movies},
                                                      {QStringLiteral("files"), files}})
                                .toJson(QJsonDocument::Compact);
    if (!WriteFileAtomically(m_path, {text}, error))
        return false;
    m_changed = false;
    return true;
}

std::optional<MovieFactsStore> MovieFactsStore::takeForSave()
{
    if (!m_changed)
        return std::nullopt;
    MovieFactsStore copy = *this;
    m_changed = false;
    return copy;
}

QByteArray MovieFactsStore::knownSha256(const QString& path) const
{
    const QFileInfo info(path);
    const auto known = m_files.constFind(info.absoluteFilePath());
    return known != m_files.cend() && known->size == info.size() &&
                   known->modified == info.lastModified()
               ? known->sha256
               : QByteArray();
}

const SwfContents* MovieFactsStore::known(const QString& path, const QByteArray& sha256) const
{
    const auto found = m_facts.constFind(sha256.isEmpty() ? knownSha256(path) : sha256);
    return found != m_facts.cend() ? &*found : nullptr;
}

void MovieFactsStore::take(const ReadFacts& read)
{
    if (read.sha256.isEmpty())
        return;
    const KnownFile file{read.size, read.modified, read.sha256};
    if (const auto known = m_files.constFind(read.path);
        known == m_files.cend() || known->sha256 != file.sha256 || known->size != file.size ||
        known->modified != file.modified) {
        m_files.insert(read.path, file);
        m_changed = true;
    }
    if (read.facts && !m_facts.contains(read.sha256)) {
        m_facts.insert(read.sha256, *read.facts);
        m_changed = true;
    }
}

std::optional<SwfContents> MovieFactsStore::factsOf(const QString& path, const QByteArray& sha256,
                                                    QString* error)
{
    if (const SwfContents* facts = known(path, sha256))
        return *facts;
    const ReadFacts read = ReadMovieFacts(path, sha256);
    take(read);
    if (!read.facts && error)
        *error = read.error;
    return read.facts;
}

ReadFacts ReadMovieFacts(const QString& path, const QByteArray& sha256)
{
    ReadFacts read;
    const QFileInfo info(path);
    read.path = info.absoluteFilePath();
    read.size = info.size();
    read.modified = info.lastModified();
    read.sha256 = sha256.isEmpty() ? FileSha256(path) : sha256;
    if (read.sha256.isEmpty()) {
        read.error = QStringLiteral("the file cannot be read");
        return read;
    }
    read.facts = ReadSwfContentsOfFile(path, &read.error);
    return read;
}
