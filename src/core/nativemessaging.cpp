#include "nativemessaging.h"

#include "datafolder.h"
#include "regularfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace nativemessaging {

namespace {

constexpr qsizetype kLengthBytes = 4;
constexpr qsizetype kLongestText = 4096;
constexpr qsizetype kLongestAddress = 8192;
constexpr qsizetype kMostEntries = 10000;
constexpr double kLargestNumber = 2147483647.0;

/// What a field must hold.
enum class Kind
{
    Number, ///< a whole number from 0 to 2^31 - 1
    Bool,
    Text,    ///< at most kLongestText characters
    Address, ///< an http or https address
    AddressOrEmpty,
    Base64,
    Texts,  ///< an array of Text
    Movies, ///< an array of {url, frame, seenAs}
    Action, ///< what a choice on the bar does: "category", "saveAs" or "options"
};

struct Field
{
    const char* name;
    Kind kind;
    bool required;
};

struct MessageType
{
    Sender sender;
    const char* type;
    std::initializer_list<Field> fields;
};

/// Every message of the protocol, with its fields; "type" is every message's own.
const MessageType kTypes[] = {
    {Sender::Extension,
     "hello",
     {{"protocol", Kind::Number, true},
      {"browser", Kind::Text, true},
      {"browserVersion", Kind::Text, false},
      {"extension", Kind::Text, false}}},
    {Sender::Extension,
     "choice",
     {{"movie", Kind::Address, true},
      {"page", Kind::Address, true},
      {"frame", Kind::AddressOrEmpty, false},
      {"action", Kind::Action, true},
      {"category", Kind::Text, false}}},
    {Sender::Extension, "tab", {{"url", Kind::Address, true}, {"focused", Kind::Bool, false}}},
    {Sender::Extension, "movies", {{"id", Kind::Number, true}, {"movies", Kind::Movies, true}}},
    {Sender::Extension,
     "copy",
     {{"id", Kind::Number, true}, {"data", Kind::Base64, true}, {"last", Kind::Bool, true}}},
    {Sender::Extension, "copyFailed", {{"id", Kind::Number, true}, {"reason", Kind::Text, false}}},
    {Sender::Extension,
     "error",
     {{"id", Kind::Number, false}, {"fault", Kind::Text, false}, {"message", Kind::Text, false}}},
    {Sender::Program,
     "welcome",
     {{"protocol", Kind::Number, true},
      {"shortcutBar", Kind::Bool, true},
      {"pauseMovie", Kind::Bool, true},
      {"categories", Kind::Texts, true}}},
    {Sender::Program,
     "state",
     {{"running", Kind::Bool, true},
      {"shortcutBar", Kind::Bool, false},
      {"pauseMovie", Kind::Bool, false},
      {"categories", Kind::Texts, false}}},
    {Sender::Program, "findMovies", {{"id", Kind::Number, true}}},
    {Sender::Program, "fetch", {{"id", Kind::Number, true}, {"url", Kind::Address, true}}},
    {Sender::Program,
     "error",
     {{"id", Kind::Number, false}, {"fault", Kind::Text, false}, {"message", Kind::Text, false}}},
};

const MessageType* typeNamed(const QString& type, Sender sender)
{
    for (const MessageType& known : kTypes) {
        if (known.sender == sender && type == QLatin1String(known.type))
            return &known;
    }
    return nullptr;
}

bool isText(const QJsonValue& value, qsizetype longest = kLongestText)
{
    return value.isString() && value.toString().size() <= longest;
}

bool isAddress(const QJsonValue& value)
{
    if (!isText(value, kLongestAddress))
        return false;
    const QUrl url(value.toString(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

bool isBase64(const QJsonValue& value)
{
    if (!value.isString())
        return false;
    const QString text = value.toString();
    if (text.size() % 4 != 0)
        return false;
    const auto inAlphabet = [](QChar c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
               c == u'+' || c == u'/';
    };
    const qsizetype padding = text.endsWith(QStringLiteral("==")) ? 2 : text.endsWith(u'=') ? 1 : 0;
    return std::all_of(text.cbegin(), text.cend() - padding, inAlphabet);
}

bool isTexts(const QJsonValue& value)
{
    if (!value.isArray() || value.toArray().size() > kMostEntries)
        return false;
    const QJsonArray texts = value.toArray();
    return std::all_of(texts.begin(), texts.end(), [](const QJsonValue& v) { return isText(v); });
}

bool isMovie(const QJsonValue& value)
{
    if (!value.isObject())
        return false;
    const QJsonObject movie = value.toObject();
    for (auto it = movie.begin(); it != movie.end(); ++it) {
        if (it.key() != u"url" && it.key() != u"frame" && it.key() != u"seenAs")
            return false;
    }
    const QJsonValue frame = movie.value(QStringLiteral("frame"));
    return isAddress(movie.value(QStringLiteral("url"))) &&
           (frame.isUndefined() || (frame.isString() && frame.toString().isEmpty()) ||
            isAddress(frame)) &&
           (!movie.contains(QStringLiteral("seenAs")) ||
            isTexts(movie.value(QStringLiteral("seenAs"))));
}

bool holds(const QJsonValue& value, Kind kind)
{
    switch (kind) {
    case Kind::Number: {
        const double number = value.toDouble(-1);
        return value.isDouble() && number >= 0 && number <= kLargestNumber &&
               number == static_cast<double>(static_cast<qint64>(number));
    }
    case Kind::Bool:
        return value.isBool();
    case Kind::Text:
        return isText(value);
    case Kind::Address:
        return isAddress(value);
    case Kind::AddressOrEmpty:
        return (value.isString() && value.toString().isEmpty()) || isAddress(value);
    case Kind::Base64:
        return isBase64(value);
    case Kind::Texts:
        return isTexts(value);
    case Kind::Movies: {
        if (!value.isArray() || value.toArray().size() > kMostEntries)
            return false;
        const QJsonArray movies = value.toArray();
        return std::all_of(movies.begin(), movies.end(), isMovie);
    }
    case Kind::Action: {
        const QString action = value.toString();
        return action == u"category" || action == u"saveAs" || action == u"options";
    }
    }
    return false;
}

/// Checks the fields of a message of a known type; Fault::None when all is well.
Fault checkFields(const QJsonObject& object, const MessageType& type, QString* why)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key() == u"type")
            continue;
        const auto field =
            std::find_if(type.fields.begin(), type.fields.end(),
                         [&](const Field& f) { return it.key() == QLatin1String(f.name); });
        if (field == type.fields.end()) {
            *why = QStringLiteral("\"%1\" has no field \"%2\"")
                       .arg(QLatin1String(type.type), it.key());
            return Fault::Field;
        }
        if (!holds(it.value(), field->kind)) {
            *why = QStringLiteral("\"%1\" of \"%2\" holds what it cannot")
                       .arg(it.key(), QLatin1String(type.type));
            return Fault::Value;
        }
    }
    for (const Field& field : type.fields) {
        if (field.required && !object.contains(QLatin1String(field.name))) {
            *why = QStringLiteral("\"%1\" lacks \"%2\"")
                       .arg(QLatin1String(type.type), QLatin1String(field.name));
            return Fault::Field;
        }
    }
    return Fault::None;
}

} // namespace

void FrameReader::feed(QByteArrayView bytes)
{
    if (m_problem != Problem::None)
        return;
    m_pending.append(bytes);
    while (m_pending.size() >= kLengthBytes) {
        quint32 length = 0;
        std::memcpy(&length, m_pending.constData(), sizeof length); // the machine's byte order
        if (length > kMaxMessageBytes) {
            m_problem = Problem::TooLong;
            m_announced = length;
            m_pending = {};
            return;
        }
        if (m_pending.size() < kLengthBytes + static_cast<qsizetype>(length))
            return;
        m_messages.push_back(m_pending.mid(kLengthBytes, length));
        m_pending.remove(0, kLengthBytes + length);
    }
}

std::optional<QByteArray> FrameReader::next()
{
    if (m_messages.empty())
        return std::nullopt;
    QByteArray message = std::move(m_messages.front());
    m_messages.pop_front();
    return message;
}

void FrameReader::end()
{
    if (m_problem == Problem::None && !m_pending.isEmpty())
        m_problem = Problem::Cut;
}

QByteArray Frame(const QJsonObject& message)
{
    return Frame(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

QByteArray Frame(QByteArrayView json)
{
    if (json.size() > kMaxMessageBytes)
        return {};
    const auto length = static_cast<quint32>(json.size());
    QByteArray frame(kLengthBytes, Qt::Uninitialized);
    std::memcpy(frame.data(), &length, sizeof length);
    frame += json;
    return frame;
}

std::optional<Message> ReadMessage(QByteArrayView json, Sender sender, Fault* fault, QString* why)
{
    const auto refuse = [&](Fault kind, const QString& reason) -> std::optional<Message> {
        *fault = kind;
        *why = reason;
        return std::nullopt;
    };
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return refuse(Fault::Json, QStringLiteral("not a JSON object"));
    const QJsonObject object = document.object();
    const QString type = object.value(QStringLiteral("type")).toString();
    const MessageType* known = typeNamed(type, sender);
    if (!known)
        return refuse(Fault::Type,
                      QStringLiteral("no message \"%1\" comes from this side").arg(type.left(64)));
    QString reason;
    if (const Fault found = checkFields(object, *known, &reason); found != Fault::None)
        return refuse(found, reason);
    if (object.contains(QStringLiteral("protocol")) &&
        object.value(QStringLiteral("protocol")).toInt() != kProtocol)
        return refuse(Fault::Version, QStringLiteral("protocol %1 is not this end's %2")
                                          .arg(object.value(QStringLiteral("protocol")).toInt())
                                          .arg(kProtocol));
    *fault = Fault::None;
    why->clear();
    return Message{type, object};
}

QString FaultName(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return QStringLiteral("none");
    case Fault::Json:
        return QStringLiteral("json");
    case Fault::Type:
        return QStringLiteral("type");
    case Fault::Field:
        return QStringLiteral("field");
    case Fault::Value:
        return QStringLiteral("value");
    case Fault::Version:
        return QStringLiteral("version");
    }
    return {};
}

QJsonObject ErrorReply(Fault fault, const QString& why)
{
    return {{QStringLiteral("type"), QStringLiteral("error")},
            {QStringLiteral("fault"), FaultName(fault)},
            {QStringLiteral("message"), why.left(kLongestText)}};
}

QString HostRecordPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/clipvault/browser-host.conf");
}

QString HostDataFolder()
{
    if (!qEnvironmentVariableIsEmpty("CLIPVAULT_HOME"))
        return ResolveDataFolder({});
    const QString recorded =
        IniText::read(HostRecordPath()).value(QStringLiteral("General/datafolder"));
    return recorded.isEmpty() ? ResolveDataFolder({}) : recorded;
}

} // namespace nativemessaging
