#include "companionlinks.h"

#include "filetransfer.h"

#include <QJsonArray>
#include <QLocalSocket>
#include <QTimer>

#include <set>

using namespace nativemessaging;

namespace {

/// What is read from one host before its messages are handled: a flood then waits in the
/// socket, not in memory.
constexpr qint64 kReadBuffer = 2 * kMaxMessageBytes;

} // namespace

struct CompanionLinks::Link
{
    QLocalSocket* socket = nullptr;
    FrameReader reader;
    CompanionBrowser browser;
    bool greeted = false; ///< its hello was heard and answered
    std::set<int> logged; ///< the kinds of fault said once already
};

CompanionLinks::CompanionLinks(QObject* parent)
    : QObject(parent)
{
}

CompanionLinks::~CompanionLinks()
{
    qDeleteAll(m_links);
}

void CompanionLinks::adopt(QLocalSocket* socket, const QByteArray& rest)
{
    auto* link = new Link;
    link->socket = socket;
    socket->setParent(this);
    socket->setReadBufferSize(kReadBuffer);
    m_links.append(link);
    connect(socket, &QLocalSocket::readyRead, this, [this, link] { readFrom(*link); });
    // Dropped from the event loop: a connection that ends while its messages are read keeps its
    // state until the reading is done.
    connect(
        socket, &QLocalSocket::disconnected, this, [this, socket] { drop(socket); },
        Qt::QueuedConnection);
    link->reader.feed(rest);
    readFrom(*link);
}

void CompanionLinks::drop(QLocalSocket* socket)
{
    for (qsizetype i = 0; i < m_links.size(); ++i) {
        if (m_links[i]->socket == socket) {
            if (m_tabLink == m_links[i])
                m_tabLink = nullptr;
            delete m_links.takeAt(i);
            break;
        }
    }
    socket->deleteLater();
}

void CompanionLinks::readFrom(Link& link)
{
    link.reader.feed(link.socket->readAll());
    while (const std::optional<QByteArray> json = link.reader.next()) {
        Fault fault = Fault::None;
        QString why;
        if (const std::optional<Message> message =
                ReadMessage(*json, Sender::Extension, &fault, &why))
            handle(link, *message);
        else
            refuse(link, fault, why);
        if (link.socket->state() != QLocalSocket::ConnectedState)
            return;
    }
    if (link.reader.problem() != FrameReader::Problem::None) {
        qWarning("Clip Vault: a browser companion announced a message over %lld bytes; its "
                 "connection is closed",
                 static_cast<long long>(kMaxMessageBytes));
        link.socket->abort();
    }
}

void CompanionLinks::handle(Link& link, const Message& message)
{
    const QJsonObject& fields = message.fields;
    const auto text = [&](const char* name) {
        return fields.value(QLatin1String(name)).toString();
    };
    if (message.type == u"hello") {
        link.browser = {text("browser"), text("browserVersion")};
        link.greeted = true;
        send(link, barState("welcome"));
        return;
    }
    if (!link.greeted) {
        refuse(link, Fault::Version, QStringLiteral("the companion must say hello first"));
        return;
    }
    if (message.type == u"tab") {
        // The tab of the browser last in front: one behind another tells its tab too (a page
        // it loads, a tab it opens), which counts only while no other was in front since.
        const bool inFront = fields.value(QStringLiteral("focused")).toBool(true);
        if (inFront || !m_tabLink || m_tabLink == &link) {
            m_visibleTab = text("url");
            m_tabLink = &link;
        }
    } else if (message.type == u"movies") {
        QList<TabMovie> movies;
        for (const QJsonValue& value : fields.value(QStringLiteral("movies")).toArray()) {
            const QJsonObject movie = value.toObject();
            for (const QJsonValue& how : movie.value(QStringLiteral("seenAs")).toArray())
                AddTabMovie(movies, movie.value(QStringLiteral("url")).toString(),
                            movie.value(QStringLiteral("frame")).toString(), how.toString());
        }
        answer(fields.value(QStringLiteral("id")).toInt(), movies);
    } else if (message.type == u"copy") {
        takePiece(fields.value(QStringLiteral("id")).toInt(), fields);
    } else if (message.type == u"copyFailed") {
        // The browser's reason, shortened: a page's text never fills the user's message.
        answer(fields.value(QStringLiteral("id")).toInt(), {}, false,
               QStringLiteral("the browser's copy: ") + text("reason").left(200));
    } else if (message.type == u"choice") {
        // From the event loop: what follows may open a dialog while this link is being read.
        const CompanionChoice choice{text("movie"), text("page"), text("frame"), text("action"),
                                     text("category")};
        QMetaObject::invokeMethod(
            this, [this, choice] { emit choiceMade(choice); }, Qt::QueuedConnection);
    }
}

void CompanionLinks::refuse(Link& link, Fault fault, const QString& why)
{
    if (link.logged.insert(static_cast<int>(fault)).second)
        qWarning("Clip Vault: refused a message of a browser companion (%s): %s",
                 qPrintable(FaultName(fault)), qPrintable(why));
    send(link, ErrorReply(fault, why));
}

void CompanionLinks::send(Link& link, const QJsonObject& message)
{
    link.socket->write(Frame(message));
}

QJsonObject CompanionLinks::barState(const char* type) const
{
    QJsonObject state{{QStringLiteral("type"), QLatin1String(type)},
                      {QStringLiteral("shortcutBar"), m_shortcutBar},
                      {QStringLiteral("pauseMovie"), m_pauseMovie},
                      {QStringLiteral("categories"), QJsonArray::fromStringList(m_categories)}};
    if (QLatin1String(type) == QLatin1String("welcome"))
        state.insert(QStringLiteral("protocol"), kProtocol);
    else
        state.insert(QStringLiteral("running"), true);
    return state;
}

void CompanionLinks::setBarState(bool shortcutBar, bool pauseMovie, const QStringList& categories)
{
    if (shortcutBar == m_shortcutBar && pauseMovie == m_pauseMovie && categories == m_categories)
        return;
    m_shortcutBar = shortcutBar;
    m_pauseMovie = pauseMovie;
    m_categories = categories;
    for (Link* link : std::as_const(m_links)) {
        if (link->greeted)
            send(*link, barState("state"));
    }
}

CompanionLinks::Link* CompanionLinks::askedLink() const
{
    if (m_tabLink)
        return m_tabLink;
    for (Link* link : m_links) {
        if (link->greeted)
            return link;
    }
    return nullptr;
}

int CompanionLinks::ask(Question question, QJsonObject message, int waitMs)
{
    Link* link = askedLink();
    if (!link)
        return 0;
    const int id = ++m_lastId;
    question.deadline = new QTimer(this);
    question.deadline->setSingleShot(true);
    connect(question.deadline, &QTimer::timeout, this, [this, id] { answer(id); });
    question.deadline->start(waitMs);
    m_questions.insert(id, std::move(question));
    message.insert(QStringLiteral("id"), id);
    send(*link, message);
    return id;
}

void CompanionLinks::answer(int id, const QList<TabMovie>& movies, bool saved, const QString& error)
{
    const auto found = m_questions.find(id);
    if (found == m_questions.end())
        return; // answered already, or never asked
    Question question = std::move(*found);
    m_questions.erase(found);
    question.deadline->deleteLater();
    if (!question.context)
        return;
    if (question.movies)
        question.movies(movies);
    else if (question.saved)
        question.saved(saved, error);
}

void CompanionLinks::takePiece(int id, const QJsonObject& fields)
{
    const auto found = m_questions.find(id);
    if (found == m_questions.end() || !found->file)
        return;
    ReplacingFile& file = *found->file;
    const QByteArray piece =
        QByteArray::fromBase64(fields.value(QStringLiteral("data")).toString().toLatin1());
    // What is no Flash movie from its first bytes on, or more than any movie, is not taken.
    if (file.size() == 0 && !BeginsAsFlashMovie(piece)) {
        answer(id);
        return;
    }
    if (file.size() + piece.size() > kMaxMovieBytes) {
        answer(id, {}, false, QStringLiteral("larger than %1 MiB").arg(kMaxMovieBytes >> 20));
        return;
    }
    QString error;
    if (!file.append(piece, &error)) {
        answer(id, {}, false, error);
        return;
    }
    found->deadline->start(kPieceWaitMs);
    if (fields.value(QStringLiteral("last")).toBool()) {
        const bool saved = file.commit(&error);
        answer(id, {}, saved, error);
    }
}

void CompanionLinks::findTabMovies(QObject* context, BrowserSession::MoviesAnswer movies)
{
    Question question;
    question.context = context;
    question.movies = movies;
    if (ask(std::move(question), {{QStringLiteral("type"), QStringLiteral("findMovies")}},
            BrowserSession::kTabAnswerMs) == 0)
        QTimer::singleShot(0, context, [movies] { movies({}); });
}

void CompanionLinks::saveMovie(const QString& url, const QString& target, QObject* context,
                               BrowserSession::SavedAnswer saved)
{
    Question question;
    question.context = context;
    question.saved = saved;
    question.file = std::make_shared<ReplacingFile>(target);
    if (ask(std::move(question),
            {{QStringLiteral("type"), QStringLiteral("fetch")}, {QStringLiteral("url"), url}},
            kPieceWaitMs) == 0)
        QTimer::singleShot(0, context, [saved] { saved(false, {}); });
}

QList<CompanionBrowser> CompanionLinks::browsers() const
{
    QList<CompanionBrowser> browsers;
    for (const Link* link : m_links) {
        if (link->greeted)
            browsers << link->browser;
    }
    return browsers;
}

QStringList CompanionLinks::connectedNames() const
{
    QStringList names;
    for (const CompanionBrowser& browser : browsers())
        names << QString(browser.browser + u' ' + browser.version).trimmed();
    return names;
}
