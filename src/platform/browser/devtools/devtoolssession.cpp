#include "devtoolssession.h"

#include "browserconnection.h"
#include "gathering.h"
#include "filetransfer.h"
#include "pagescripts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

#include <algorithm>
#include <utility>

// --- the connection -----------------------------------------------------------------------

/// The browser's DevTools endpoint: its socket named by /json/version, and every target it has
/// told of once the socket is open.
class DevToolsConnection final : public BrowserConnection
{
public:
    using BrowserConnection::BrowserConnection;

    /// The most the endpoint's HTTP side may send: a version or a list of a few pages.
    static constexpr qint64 kMaxListBytes = 1 << 20;

    /// The body of a reply from the endpoint's HTTP side, or nothing when it failed, went past
    /// kMaxListBytes or the connection closed meanwhile.
    void fetchJson(const QString& path, std::function<void(const QByteArray&)> done)
    {
        QNetworkRequest request(
            QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path)));
        request.setTransferTimeout(kConnectMs);
        QNetworkReply* reply = network().get(request);
        auto finish = std::make_shared<std::function<void(const QByteArray&)>>(std::move(done));
        connect(reply, &QNetworkReply::finished, this, [reply, finish] {
            reply->deleteLater();
            if (*finish)
                std::exchange(*finish, nullptr)(
                    reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray());
        });
        // A reply that never ends must not grow without end: past the bound it is no browser's.
        connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received) {
            if (received > kMaxListBytes)
                reply->abort();
        });
        // Read no longer than the connection it belongs to lives.
        connect(this, &BrowserConnection::closed, reply, &QNetworkReply::abort);
    }

    /// The browser endpoint named by the browser's profile, tried when /json/version names
    /// none.
    void setProfileSocketPath(const QString& path) { m_profilePath = path; }
    /// How the socket was found: "/json/version" or "DevToolsActivePort".
    QString route() const { return m_route; }

protected:
    void findSocket(quint16 port) override
    {
        fetchJson(QStringLiteral("/json/version"), [this, port](const QByteArray& body) {
            if (port != this->port() || state() != State::Opening)
                return; // an answer for a browser since left
            QString path = QUrl(QJsonDocument::fromJson(body)
                                    .object()
                                    .value(QStringLiteral("webSocketDebuggerUrl"))
                                    .toString())
                               .path();
            m_route = QStringLiteral("/json/version");
            if (path.isEmpty() && !m_profilePath.isEmpty()) {
                // Remote debugging allowed on the everyday profile: no discovery, the endpoint
                // is the one the profile names.
                path = m_profilePath;
                m_route = QStringLiteral("DevToolsActivePort");
            }
            if (!path.startsWith(QStringLiteral("/devtools/browser/")) ||
                path.contains(QStringLiteral(".."))) {
                fail();
                return;
            }
            openSocket(loopbackUrl(path));
        });
    }

    void greet() override
    {
        // The browser tells of every target it has, then of each one that comes, changes or goes.
        call(QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}},
             [this](const QJsonObject&) { becomeReady(); });
    }

private:
    QString m_profilePath;
    QString m_route;
};

// --- what the pages fetch ---------------------------------------------------------------------

namespace {

bool IsFlashMovieType(const QString& type)
{
    return type == u"application/x-shockwave-flash" || type == u"application/futuresplash" ||
           type == u"application/vnd.adobe.flash.movie";
}

bool IsFlashMoviePath(const QString& path)
{
    return path.endsWith(QStringLiteral(".swf"), Qt::CaseInsensitive) ||
           path.endsWith(QStringLiteral(".spl"), Qt::CaseInsensitive);
}

/// The body of a Network.getResponseBody result.
QByteArray ResponseBody(const QJsonObject& result)
{
    const QString body = result.value(QStringLiteral("body")).toString();
    return result.value(QStringLiteral("base64Encoded")).toBool()
               ? QByteArray::fromBase64(body.toLatin1())
               : body.toUtf8();
}

} // namespace

/// The Flash movies the watched pages fetched, per tab: a response that is one by its type or
/// its address, or, for a body of no stated type, by its first bytes. A tab's list starts again
/// when its page loads another document.
class DevToolsNetworkWatch
{
public:
    struct Loaded
    {
        QString url;
        QString frame;
        QString session;
        QString requestId;
    };
    /// The page (tab) a session belongs to, the address of a session's document, and whether a
    /// frame id names a page's own document.
    struct Sessions
    {
        std::function<QString(const QString& session)> top;
        std::function<QString(const QString& session)> url;
        std::function<bool(const QString& session, const QString& frameId)> isPageDocument;
    };

    static constexpr int kMaxPerTab = 500;
    static constexpr int kMaxCandidates = 64;

    DevToolsNetworkWatch(DevToolsConnection& connection, Sessions sessions)
        : m_connection(connection)
        , m_sessions(std::move(sessions))
    {
    }

    void handleEvent(const QString& method, const QJsonObject& params, const QString& session)
    {
        const QString requestId = params.value(QStringLiteral("requestId")).toString();
        if (method == u"Network.requestWillBeSent") {
            if (params.value(QStringLiteral("type")).toString() == u"Document" &&
                m_sessions.isPageDocument(session,
                                          params.value(QStringLiteral("frameId")).toString()))
                m_movies.remove(session);
        } else if (method == u"Network.responseReceived") {
            const QJsonObject response = params.value(QStringLiteral("response")).toObject();
            const QString url = response.value(QStringLiteral("url")).toString();
            const QString type = response.value(QStringLiteral("mimeType")).toString().toLower();
            if (IsFlashMovieType(type) || IsFlashMoviePath(QUrl(url).path()))
                keep(session, requestId, url);
            else if (isUntyped(type) && m_candidates.size() < kMaxCandidates)
                m_candidates.insert(key(session, requestId), url);
        } else if (method == u"Network.loadingFinished") {
            const QString url = m_candidates.take(key(session, requestId));
            if (!url.isEmpty())
                checkFirstBytes(session, requestId, url);
        } else if (method == u"Network.loadingFailed") {
            m_candidates.remove(key(session, requestId));
        }
    }

    QList<Loaded> moviesOf(const QString& page) const { return m_movies.value(page); }

    std::optional<Loaded> find(const QString& url) const
    {
        for (const QList<Loaded>& movies : m_movies) {
            for (const Loaded& movie : movies) {
                if (movie.url == url)
                    return movie;
            }
        }
        return std::nullopt;
    }

    void forget(const QString& session)
    {
        m_movies.remove(session);
        for (QList<Loaded>& movies : m_movies)
            movies.removeIf([&](const Loaded& movie) { return movie.session == session; });
        m_candidates.removeIf(
            [&](auto candidate) { return candidate.key().startsWith(session + u'\n'); });
    }
    void clear()
    {
        m_movies.clear();
        m_candidates.clear();
    }

private:
    static QString key(const QString& session, const QString& requestId)
    {
        return session + u'\n' + requestId;
    }
    static bool isUntyped(const QString& type)
    {
        return type.isEmpty() || type == u"application/octet-stream" ||
               type == u"binary/octet-stream" || type == u"application/x-download";
    }

    void keep(const QString& session, const QString& requestId, const QString& url)
    {
        QList<Loaded>& movies = m_movies[m_sessions.top(session)];
        for (Loaded& movie : movies) {
            if (movie.url == url) {
                movie = {url, m_sessions.url(session), session, requestId}; // the latest copy
                return;
            }
        }
        if (movies.size() < kMaxPerTab)
            movies.append({url, m_sessions.url(session), session, requestId});
    }

    void checkFirstBytes(const QString& session, const QString& requestId, const QString& url)
    {
        m_connection.call(QStringLiteral("Network.getResponseBody"),
                          {{QStringLiteral("requestId"), requestId}},
                          [this, session, requestId, url](const QJsonObject& result) {
                              if (BeginsAsFlashMovie(ResponseBody(result)))
                                  keep(session, requestId, url);
                          },
                          {{QStringLiteral("sessionId"), session}});
    }

    DevToolsConnection& m_connection;
    Sessions m_sessions;
    QHash<QString, QList<Loaded>> m_movies; ///< by the page (tab) that fetched them
    QHash<QString, QString> m_candidates;   ///< untyped bodies still loading → their address
};

namespace {

bool isWatchedPage(const QJsonObject& targetInfo)
{
    const QString url = targetInfo.value(QStringLiteral("url")).toString();
    return targetInfo.value(QStringLiteral("type")).toString() == u"page" &&
           !url.startsWith(QStringLiteral("devtools://")) &&
           !url.startsWith(QStringLiteral("chrome-extension://"));
}

QJsonObject onPage(const QString& session)
{
    return {{QStringLiteral("sessionId"), session}};
}

/// Whether a page calls itself the visible one of its window, and its address.
const char kVisibilityScript[] =
    R"JS(({visible: document.visibilityState === "visible", url: location.href}))JS";

} // namespace

/// One question about the movie under a point: the pages still to answer it, and the best
/// visible page so far.
struct DevToolsSession::Round
{
    QPoint screen;
    int waiting = 0;
    bool settled = false;  ///< a page was chosen or the answer given
    bool askedAll = false; ///< every page was asked, not only the last visible one
    QString fallback;      ///< a visible page whose viewport does not hold the point
    QJsonObject fallbackMetrics;
    ViewportGeometry geometry; ///< of the page the movie is looked for in
};

/// One question about the visible tab, answered once: by the pages, or empty at its deadline.
struct DevToolsSession::TabQuestion
{
    QPointer<QObject> context;
    TabAnswer answer;
    int waiting = 0;
    bool answered = false;

    void give(const QString& session, const QString& url)
    {
        if (std::exchange(answered, true) || !context)
            return;
        answer(session, url);
    }
};

DevToolsSession::DevToolsSession(QObject* parent)
    : BrowserSession(parent)
    , m_connection(new DevToolsConnection(this))
{
    m_network = std::make_unique<DevToolsNetworkWatch>(
        *m_connection, DevToolsNetworkWatch::Sessions{
                           [this](const QString& session) { return topSessionOf(session); },
                           [this](const QString& session) { return sessionUrl(session); },
                           [this](const QString& session, const QString& frameId) {
                               // A page target's id is its main frame's.
                               return !m_frameParents.contains(session) &&
                                      m_sessionTargets.value(session) == frameId;
                           }});
    connect(m_connection, &BrowserConnection::ready, this, &DevToolsSession::connectionReady);
    connect(m_connection, &BrowserConnection::closed, this, &DevToolsSession::connectionClosed);
    connect(m_connection, &BrowserConnection::event, this,
            [this](const QString& method, const QJsonObject& params, const QJsonObject& message) {
                handleEvent(method, params, message.value(QStringLiteral("sessionId")).toString());
            });
    m_answerDeadline.setSingleShot(true);
    connect(&m_answerDeadline, &QTimer::timeout, this, &DevToolsSession::deadlinePassed);
}

DevToolsSession::~DevToolsSession()
{
    m_connection->disconnect(this);
}

QString DevToolsSession::route() const
{
    return m_connection->route();
}

bool DevToolsSession::isReady() const
{
    return m_connection->isReady();
}

void DevToolsSession::connectionReady()
{
    runSettledWaiters();
    startNext();
}

void DevToolsSession::connectionClosed()
{
    m_pages.clear();
    m_frameParents.clear();
    m_sessionTargets.clear();
    m_targetUrls.clear();
    m_contextLists.clear();
    m_network->clear();
    m_visibleSession.clear();
    m_visibleMetrics = {};
    for (const auto& then : std::exchange(m_settledWaiters, {}))
        then(false);
    // A waiting point hears "no movie", once whoever closed the connection is done.
    QTimer::singleShot(0, this, &DevToolsSession::startNext);
}

void DevToolsSession::handleEvent(const QString& method, const QJsonObject& params,
                                  const QString& session)
{
    if (method.startsWith(u"Network.")) {
        m_network->handleEvent(method, params, session);
    } else if (method == u"Runtime.executionContextCreated") {
        // Asked for while the frames of a tab are listed: each frame's own main world.
        const QJsonObject context = params.value(QStringLiteral("context")).toObject();
        auto listing = m_contextLists.find(session);
        if (listing != m_contextLists.end() &&
            context.value(QStringLiteral("auxData"))
                .toObject()
                .value(QStringLiteral("isDefault"))
                .toBool() &&
            listing->size() < kMaxFrames)
            listing->append(context.value(QStringLiteral("id")).toInt());
    } else if (method == u"Target.attachedToTarget") {
        attachedFrame(params, session);
    } else if (method == u"Target.targetCreated" || method == u"Target.targetInfoChanged") {
        const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
        m_targetUrls.insert(info.value(QStringLiteral("targetId")).toString(),
                            info.value(QStringLiteral("url")).toString());
        attach(info);
    } else if (method == u"Target.targetDestroyed") {
        const QString targetId = params.value(QStringLiteral("targetId")).toString();
        m_targetUrls.remove(targetId);
        if (const QString page = m_pages.take(targetId); !page.isEmpty())
            forgetSession(page);
    } else if (method == u"Target.detachedFromTarget") {
        const QString detached = params.value(QStringLiteral("sessionId")).toString();
        m_pages.removeIf([&](auto page) { return page.value() == detached; });
        if (m_visibleSession == detached)
            m_visibleSession.clear();
        forgetSession(detached);
    }
}

void DevToolsSession::attach(const QJsonObject& targetInfo)
{
    const QString targetId = targetInfo.value(QStringLiteral("targetId")).toString();
    if (!isWatchedPage(targetInfo) || m_pages.contains(targetId) || m_pages.size() >= kMaxPages)
        return;
    m_pages.insert(targetId, QString()); // attaching
    m_connection->call(QStringLiteral("Target.attachToTarget"),
                       {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}},
                       [this, targetId](const QJsonObject& result) {
                           const QString session =
                               result.value(QStringLiteral("sessionId")).toString();
                           if (session.isEmpty()) {
                               m_pages.remove(targetId);
                           } else if (m_pages.contains(targetId)) {
                               m_pages[targetId] = session;
                               m_sessionTargets.insert(session, targetId);
                               watch(session);
                           }
                           runSettledWaiters();
                           startNext();
                       });
}

void DevToolsSession::watch(const QString& session)
{
    // The frames of other sites in the page (each a target of its own) are attached as they
    // come, and what the page fetches is watched for Flash movies.
    m_connection->call(
        QStringLiteral("Target.setAutoAttach"),
        {{QStringLiteral("autoAttach"), true},
         {QStringLiteral("waitForDebuggerOnStart"), false},
         {QStringLiteral("flatten"), true}},
        [](const QJsonObject&) {}, onPage(session));
    m_connection->call(
        QStringLiteral("Network.enable"),
        {{QStringLiteral("maxResourceBufferSize"), kMaxKeptBody},
         {QStringLiteral("maxTotalBufferSize"), 4 * kMaxKeptBody}},
        [](const QJsonObject&) {}, onPage(session));
}

void DevToolsSession::attachedFrame(const QJsonObject& params, const QString& parent)
{
    const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
    const QString session = params.value(QStringLiteral("sessionId")).toString();
    if (info.value(QStringLiteral("type")).toString() != u"iframe" || session.isEmpty() ||
        parent.isEmpty() || m_frameParents.size() >= kMaxFrames)
        return;
    const QString targetId = info.value(QStringLiteral("targetId")).toString();
    m_frameParents.insert(session, parent);
    m_sessionTargets.insert(session, targetId);
    m_targetUrls.insert(targetId, info.value(QStringLiteral("url")).toString());
    watch(session);
}

void DevToolsSession::forgetSession(const QString& session)
{
    // The frames inside it go with it.
    const QStringList children = m_frameParents.keys(session);
    for (const QString& child : children)
        forgetSession(child);
    m_frameParents.remove(session);
    m_sessionTargets.remove(session);
    m_network->forget(session);
}

QString DevToolsSession::sessionUrl(const QString& session) const
{
    return m_targetUrls.value(m_sessionTargets.value(session));
}

QString DevToolsSession::topSessionOf(QString session) const
{
    for (int depth = 0; depth < kMaxFrames && m_frameParents.contains(session); ++depth)
        session = m_frameParents.value(session);
    return session;
}

QStringList DevToolsSession::framesOf(const QString& page) const
{
    QStringList sessions{page};
    for (qsizetype i = 0; i < sessions.size() && sessions.size() < kMaxFrames; ++i)
        sessions << m_frameParents.keys(sessions[i]);
    return sessions;
}

bool DevToolsSession::isAttaching() const
{
    return std::any_of(m_pages.cbegin(), m_pages.cend(),
                       [](const QString& session) { return session.isEmpty(); });
}

void DevToolsSession::evaluate(const QString& session, const QString& expression,
                               std::function<void(const QJsonValue&)> reply, int contextId)
{
    QJsonObject params{{QStringLiteral("expression"), expression},
                       {QStringLiteral("returnByValue"), true}};
    if (contextId != 0)
        params.insert(QStringLiteral("contextId"), contextId);
    m_connection->call(
        QStringLiteral("Runtime.evaluate"), params,
        [reply = std::move(reply)](const QJsonObject& result) {
            // A thrown script counts as no answer.
            if (result.contains(QStringLiteral("exceptionDetails")))
                reply(QJsonValue(QJsonValue::Undefined));
            else
                reply(result.value(QStringLiteral("result"))
                          .toObject()
                          .value(QStringLiteral("value")));
        },
        onPage(session));
}

void DevToolsSession::listContexts(const QString& session,
                                   std::function<void(const QList<int>&)> then)
{
    if (m_contextLists.contains(session)) {
        then({}); // listed already for another question: its page's own world will do
        return;
    }
    // Enabling the runtime tells of every execution context there is before it answers; it is
    // switched off again at once, so that the page's console does not stream to us.
    m_contextLists.insert(session, {});
    m_connection->call(
        QStringLiteral("Runtime.enable"), {},
        [this, session, then = std::move(then)](const QJsonObject&) {
            const QList<int> contexts = m_contextLists.take(session);
            m_connection->call(
                QStringLiteral("Runtime.disable"), {}, [](const QJsonObject&) {}, onPage(session));
            then(contexts);
        },
        onPage(session));
}

// --- the visible tab ----------------------------------------------------------------------

void DevToolsSession::GetAddressBarText(const BrowserEndpoint& browser, QObject* context,
                                        AddressAnswer answer)
{
    m_connection->setProfileSocketPath(browser.socketPath);
    askVisibleTab(browser.port, context,
                  [answer = std::move(answer)](const QString&, const QString& url) {
                      answer(url.left(kAddressLimit));
                  });
}

void DevToolsSession::evaluateInVisibleTab(quint16 port, const QString& expression,
                                           QObject* context, ValueAnswer answer)
{
    askVisibleTab(port, context,
                  [this, expression, context = QPointer<QObject>(context),
                   answer = std::move(answer)](const QString& session, const QString&) {
                      if (session.isEmpty()) {
                          answer(QJsonValue(QJsonValue::Undefined));
                          return;
                      }
                      evaluate(session, expression, [context, answer](const QJsonValue& value) {
                          if (context)
                              answer(value);
                      });
                  });
}

void DevToolsSession::evaluateInEveryTab(quint16 port, const QString& expression, QObject* context,
                                         ValuesAnswer answer)
{
    auto gathering = std::make_shared<Gathering<QJsonArray>>();
    gathering->context = context;
    gathering->answer = std::move(answer);
    QTimer::singleShot(kTabAnswerMs, this, [gathering] { gathering->give(); });
    if (port == 0 || m_connection->open(port) == BrowserConnection::State::Failed) {
        QTimer::singleShot(0, this, [gathering] { gathering->give(); });
        return;
    }
    whenSettled([this, gathering, expression](bool ready) {
        const QStringList sessions = ready ? m_pages.values() : QStringList();
        gathering->waiting = static_cast<int>(sessions.size());
        if (sessions.isEmpty())
            gathering->give();
        for (const QString& session : sessions) {
            evaluate(session, expression, [gathering](const QJsonValue& value) {
                if (!value.isUndefined())
                    gathering->collected.append(value);
                gathering->done();
            });
        }
    });
}

void DevToolsSession::FindTabMovies(const BrowserEndpoint& browser, QObject* context,
                                    MoviesAnswer answer)
{
    const quint16 port = browser.port;
    m_connection->setProfileSocketPath(browser.socketPath);
    auto gathering = std::make_shared<Gathering<QList<TabMovie>>>();
    gathering->context = context;
    gathering->answer = std::move(answer);
    // What was gathered by the deadline is the answer, whatever the frames still owe.
    QTimer::singleShot(kTabAnswerMs, this, [gathering] { gathering->give(); });
    askVisibleTab(port, context, [this, gathering](const QString& page, const QString&) {
        if (page.isEmpty()) {
            gathering->give();
            return;
        }
        const QString script = PageScripts::tabMovies();
        const auto frameDone = [this, gathering, page] {
            if (gathering->waiting > 1) {
                --gathering->waiting;
                return;
            }
            // Then what the tab fetched, in the order it came.
            for (const DevToolsNetworkWatch::Loaded& loaded : m_network->moviesOf(page))
                AddTabMovie(gathering->collected, loaded.url, loaded.frame,
                            QStringLiteral("network"));
            gathering->done();
        };
        const auto take = [gathering](const QJsonValue& value) {
            const QJsonObject document = value.toObject();
            const QString frame = document.value(QStringLiteral("frame")).toString();
            for (const QJsonValue& movie : document.value(QStringLiteral("movies")).toArray()) {
                const QJsonObject entry = movie.toObject();
                AddTabMovie(gathering->collected, entry.value(QStringLiteral("url")).toString(),
                            frame, entry.value(QStringLiteral("seenAs")).toString());
            }
        };
        const QStringList sessions = framesOf(page);
        gathering->waiting = static_cast<int>(sessions.size());
        for (const QString& session : sessions) {
            listContexts(session, [this, session, script, take, frameDone,
                                   gathering](const QList<int>& contexts) {
                // Each frame's own world; the page's when its frames could not be listed.
                const QList<int> worlds = contexts.isEmpty() ? QList<int>{0} : contexts;
                auto left = std::make_shared<int>(static_cast<int>(worlds.size()));
                for (const int world : worlds) {
                    evaluate(
                        session, script,
                        [take, frameDone, left](const QJsonValue& value) {
                            take(value);
                            if (--*left == 0)
                                frameDone();
                        },
                        world);
                }
            });
        }
    });
}

void DevToolsSession::FetchLoadedMovie(const BrowserEndpoint& browser, const QString& url,
                                       QObject* context, BodyAnswer answer)
{
    const quint16 port = browser.port;
    const QPointer<QObject> asker(context);
    auto give =
        std::make_shared<BodyAnswer>([asker, answer = std::move(answer)](const QByteArray& body) {
            if (asker)
                answer(body);
        });
    const auto giveOnce = [give](const QByteArray& body) {
        if (*give)
            std::exchange(*give, nullptr)(body);
    };
    QTimer::singleShot(kTabAnswerMs, this, [giveOnce] { giveOnce({}); });
    const std::optional<DevToolsNetworkWatch::Loaded> loaded =
        port == m_connection->port() && m_connection->isReady() ? m_network->find(url)
                                                                : std::nullopt;
    if (!loaded) {
        QTimer::singleShot(0, this, [giveOnce] { giveOnce({}); });
        return;
    }
    m_connection->call(
        QStringLiteral("Network.getResponseBody"),
        {{QStringLiteral("requestId"), loaded->requestId}},
        [giveOnce](const QJsonObject& result) {
            const QByteArray body = ResponseBody(result);
            giveOnce(BeginsAsFlashMovie(body) ? body : QByteArray());
        },
        onPage(loaded->session));
}

void DevToolsSession::askVisibleTab(quint16 port, QObject* context, TabAnswer answer)
{
    auto question = std::make_shared<TabQuestion>();
    question->context = context;
    question->answer = std::move(answer);
    // However the browser behaves, the asker hears within the deadline, and never before it
    // has returned.
    QTimer::singleShot(kTabAnswerMs, this, [question] { question->give({}, {}); });
    if (port == 0 || m_connection->open(port) == BrowserConnection::State::Failed) {
        QTimer::singleShot(0, this, [question] { question->give({}, {}); });
        return;
    }
    whenSettled([this, question](bool ready) {
        if (ready)
            findVisibleTab(question);
        else
            question->give({}, {});
    });
}

void DevToolsSession::whenSettled(std::function<void(bool ready)> then)
{
    m_settledWaiters.append(std::move(then));
    if (m_connection->isReady() && !isAttaching())
        QTimer::singleShot(0, this, &DevToolsSession::runSettledWaiters);
}

void DevToolsSession::runSettledWaiters()
{
    if (!m_connection->isReady() || isAttaching())
        return;
    for (const auto& then : std::exchange(m_settledWaiters, {}))
        then(true);
}

void DevToolsSession::findVisibleTab(const std::shared_ptr<TabQuestion>& question)
{
    const QStringList sessions = m_pages.values();
    if (sessions.isEmpty()) {
        question->give({}, {});
        return;
    }
    question->waiting = static_cast<int>(sessions.size());
    for (const QString& session : sessions) {
        evaluate(session, QString::fromLatin1(kVisibilityScript),
                 [this, question, session](const QJsonValue& value) {
                     --question->waiting;
                     const QJsonObject page = value.toObject();
                     if (page.value(QStringLiteral("visible")).toBool())
                         question->give(session, page.value(QStringLiteral("url")).toString());
                     else if (question->waiting == 0 && !question->answered)
                         takeFirstListedTab(question);
                 });
    }
}

void DevToolsSession::takeFirstListedTab(const std::shared_ptr<TabQuestion>& question)
{
    // A browser covered by another window (Clip Vault's own, usually) calls every tab hidden.
    // It lists its pages most recently active first: the first is the tab the user last
    // looked at.
    m_connection->fetchJson(QStringLiteral("/json/list"), [this, question](const QByteArray& body) {
        for (const QJsonValue& target : QJsonDocument::fromJson(body).array()) {
            const QJsonObject page = target.toObject();
            const QString session = m_pages.value(page.value(QStringLiteral("id")).toString());
            if (!session.isEmpty()) {
                question->give(session, page.value(QStringLiteral("url")).toString());
                return;
            }
        }
        // A browser that answers no /json/ discovery (its everyday profile): any page.
        for (auto page = m_pages.cbegin(); page != m_pages.cend(); ++page) {
            if (!page.value().isEmpty()) {
                question->give(page.value(), m_targetUrls.value(page.key()));
                return;
            }
        }
        question->give({}, {});
    });
}

// --- the movie under a point ---------------------------------------------------------------

void DevToolsSession::FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen)
{
    m_connection->setProfileSocketPath(browser.socketPath);
    m_connection->open(browser.port);
    m_pending = screen;
    startNext();
}

void DevToolsSession::PauseMovieAtPoint(QPoint screen)
{
    if (m_lastHit && m_lastHit->screen == screen && m_connection->isReady()) {
        // In the document the movie was found in, a frame of another site's included.
        evaluate(m_lastHit->session, PageScripts::findMovie(m_lastHit->css, true),
                 [](const QJsonValue&) {});
        return;
    }
    const std::optional<ViewportGeometry> geometry = PageScripts::geometryOf(m_visibleMetrics);
    if (!m_connection->isReady() || m_visibleSession.isEmpty() || !geometry)
        return;
    evaluate(m_visibleSession, PageScripts::findMovie(geometry->screenToCss(screen), true),
             [](const QJsonValue&) {});
}

void DevToolsSession::startNext()
{
    if (m_round || !m_pending)
        return;
    const BrowserConnection::State state = m_connection->open(m_connection->port());
    // A page being attached (the browser has just told of it) is waited for: it may well be
    // the one under the pointer.
    if (state == BrowserConnection::State::Opening ||
        (state == BrowserConnection::State::Ready && isAttaching())) {
        waitForSession(); // asked once the session is ready, or answered when it fails
        return;
    }
    auto round = std::make_shared<Round>();
    round->screen = *std::exchange(m_pending, std::nullopt);
    m_round = round;
    m_repliesWhenAsked = m_connection->repliesHeard();
    m_answerDeadline.start(kAnswerMs);
    QStringList sessions;
    if (state == BrowserConnection::State::Ready)
        sessions = m_pages.values();
    if (sessions.contains(m_visibleSession)) {
        askPages(round, {m_visibleSession});
    } else {
        round->askedAll = true;
        askPages(round, sessions);
    }
}

void DevToolsSession::askPages(const std::shared_ptr<Round>& round, const QStringList& sessions)
{
    if (sessions.isEmpty()) {
        answer(round, std::nullopt);
        return;
    }
    round->waiting = static_cast<int>(sessions.size());
    for (const QString& session : sessions) {
        evaluate(session, PageScripts::metrics(),
                 [this, round, session](const QJsonValue& metrics) {
                     metricsArrived(round, session, metrics.toObject());
                 });
    }
}

void DevToolsSession::metricsArrived(const std::shared_ptr<Round>& round, const QString& session,
                                     const QJsonObject& metrics)
{
    --round->waiting;
    if (round->settled)
        return;
    const std::optional<ViewportGeometry> geometry = PageScripts::geometryOf(metrics);
    if (geometry && metrics.value(QStringLiteral("visible")).toBool()) {
        if (PageScripts::viewportOnScreen(metrics, *geometry).contains(round->screen)) {
            findIn(round, session, metrics);
            return;
        }
        if (round->fallback.isEmpty()) {
            round->fallback = session;
            round->fallbackMetrics = metrics;
        }
    }
    if (round->waiting > 0)
        return;
    if (!round->askedAll) {
        // The page last seen is hidden now, or elsewhere: every page is asked.
        round->askedAll = true;
        round->fallback.clear();
        QStringList sessions = m_pages.values();
        sessions.removeAll(session);
        sessions.removeAll(QString());
        if (!sessions.isEmpty()) {
            askPages(round, sessions);
            return;
        }
    }
    if (!round->fallback.isEmpty())
        findIn(round, round->fallback, round->fallbackMetrics);
    else
        answer(round, std::nullopt);
}

void DevToolsSession::findIn(const std::shared_ptr<Round>& round, const QString& session,
                             const QJsonObject& metrics)
{
    round->settled = true;
    if (!PageScripts::knowsOrigin(metrics)) {
        // The page has seen no pointer move yet, and its frame sizes only estimate where its
        // viewport lies. A move to the point (where the pointer is) tells it exactly, and the
        // answer is then the same whoever asks first.
        const QPointF css = PageScripts::geometryOf(metrics)->screenToCss(round->screen);
        m_connection->call(
            QStringLiteral("Input.dispatchMouseEvent"),
            {{QStringLiteral("type"), QStringLiteral("mouseMoved")},
             {QStringLiteral("x"), css.x()},
             {QStringLiteral("y"), css.y()}},
            [this, round, session, metrics](const QJsonObject&) {
                evaluate(session, PageScripts::metrics(),
                         [this, round, session, metrics](const QJsonValue& moved) {
                             const bool told =
                                 PageScripts::geometryOf(moved.toObject()).has_value();
                             findAt(round, session, told ? moved.toObject() : metrics);
                         });
            },
            onPage(session));
        return;
    }
    findAt(round, session, metrics);
}

void DevToolsSession::findAt(const std::shared_ptr<Round>& round, const QString& session,
                             const QJsonObject& metrics)
{
    m_visibleSession = session;
    m_visibleMetrics = metrics;
    m_pageUrl = metrics.value(QStringLiteral("url")).toString();
    round->geometry = *PageScripts::geometryOf(metrics);
    findInDocument(round, session, round->geometry.screenToCss(round->screen), {}, 0);
}

void DevToolsSession::findInDocument(const std::shared_ptr<Round>& round, const QString& session,
                                     QPointF css, QPointF offset, int depth)
{
    constexpr int kMaxDepth = 4;
    evaluate(session, PageScripts::findMovie(css, false),
             [this, round, session, css, offset, depth](const QJsonValue& value) {
                 QJsonObject hit = value.toObject();
                 const QJsonObject frame = hit.value(QStringLiteral("crossFrame")).toObject();
                 if (hit.isEmpty()) {
                     answer(round, std::nullopt);
                     return;
                 }
                 if (frame.isEmpty()) {
                     // The rectangle is in the document's own CSS pixels: into the page's.
                     hit.insert(QStringLiteral("left"),
                                hit.value(QStringLiteral("left")).toDouble() + offset.x());
                     hit.insert(QStringLiteral("top"),
                                hit.value(QStringLiteral("top")).toDouble() + offset.y());
                     const std::optional<MovieAtPoint> movie =
                         PageScripts::movieOf(hit, round->geometry);
                     if (movie)
                         m_lastHit = Hit{round->screen, session, css};
                     answer(round, movie);
                     return;
                 }
                 // Over a frame of another site: its own document is asked, at the point
                 // within it.
                 const QString child =
                     frameSessionFor(session, frame.value(QStringLiteral("src")).toString());
                 const QPointF inner(frame.value(QStringLiteral("left")).toDouble(),
                                     frame.value(QStringLiteral("top")).toDouble());
                 if (child.isEmpty() || depth >= kMaxDepth) {
                     answer(round, std::nullopt);
                     return;
                 }
                 findInDocument(round, child, css - inner, offset + inner, depth + 1);
             });
}

QString DevToolsSession::frameSessionFor(const QString& parent, const QString& src) const
{
    const QStringList children = m_frameParents.keys(parent);
    for (const QString& child : children) {
        if (sessionUrl(child) == src)
            return child;
    }
    // A frame that went elsewhere since its element named it: the only one there is.
    return children.size() == 1 ? children.front() : QString();
}

void DevToolsSession::answer(const std::shared_ptr<Round>& round,
                             const std::optional<MovieAtPoint>& movie)
{
    if (m_round != round)
        return; // answered already, by the deadline
    round->settled = true;
    m_round.reset();
    m_answerDeadline.stop();
    emit located(round->screen, movie);
    startNext();
}

void DevToolsSession::waitForSession()
{
    // The point waits for the session, but no longer than a question would.
    if (!m_answerDeadline.isActive())
        m_answerDeadline.start(kAnswerMs);
}

void DevToolsSession::deadlinePassed()
{
    if (!m_round) {
        // A point that waited for the session all this time hears "no movie" now.
        if (const std::optional<QPoint> waiting = std::exchange(m_pending, std::nullopt))
            emit located(*waiting, std::nullopt);
        return;
    }
    const std::shared_ptr<Round> round = m_round;
    // A browser that said nothing at all for the whole question is hung: the connection is
    // dropped and opened again later.
    if (m_connection->repliesHeard() == m_repliesWhenAsked)
        m_connection->fail();
    answer(round, std::nullopt);
}
