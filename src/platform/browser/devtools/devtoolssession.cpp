#include "devtoolssession.h"

#include "devtoolsconnection.h"
#include "devtoolsnetwork.h"
#include "devtoolstargets.h"
#include "gathering.h"
#include "pagescripts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace {

/// Whether a page calls itself the visible one of its window, and its address.
const char kVisibilityScript[] =
    R"JS(({visible: document.visibilityState === "visible", url: location.href}))JS";

} // namespace

/// One search for the page under a point: the pages still to answer, and a visible page whose
/// viewport does not hold the point, taken when no other does.
struct DevToolsSession::PageSearch
{
    QPoint screen;
    Page then;
    int waiting = 0;
    bool settled = false;  ///< a page was chosen or none can be
    bool askedAll = false; ///< every page was asked, not only the last visible one
    QString fallback;
    QJsonObject fallbackMetrics;

    void give(const QString& page, const QJsonObject& metrics)
    {
        settled = true;
        if (then)
            std::exchange(then, nullptr)(page, metrics);
    }
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
        *m_connection,
        DevToolsNetworkWatch::Sessions{
            [this](const QString& session) { return m_targets->topSessionOf(session); },
            [this](const QString& session) { return m_targets->sessionUrl(session); },
            [this](const QString& session, const QString& frameId) {
                return m_targets->isPageDocument(session, frameId);
            }});
    m_targets = std::make_unique<DevToolsTargets>(
        *m_connection, [this] { m_point->sessionChanged(); },
        [this](const QString& session) {
            if (m_visibleSession == session)
                m_visibleSession.clear();
            m_network->forget(session);
        });
    m_point = new MoviePointQuestion(*this, *m_connection, kAnswerMs, this);
    connect(m_point, &MoviePointQuestion::located, this, &BrowserSession::located);
    connect(m_connection, &BrowserConnection::ready, this, &DevToolsSession::connectionReady);
    connect(m_connection, &BrowserConnection::closed, this, &DevToolsSession::connectionClosed);
    connect(m_connection, &BrowserConnection::event, this,
            [this](const QString& method, const QJsonObject& params, const QJsonObject& message) {
                handleEvent(method, params, message.value(QStringLiteral("sessionId")).toString());
            });
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
    m_targets->runSettledWaiters();
    m_point->sessionChanged();
}

void DevToolsSession::connectionClosed()
{
    m_targets->clear();
    m_network->clear();
    m_visibleSession.clear();
    m_point->forgetPages();
    // A waiting point hears "no movie".
    m_point->sessionChanged();
}

void DevToolsSession::handleEvent(const QString& method, const QJsonObject& params,
                                  const QString& session)
{
    if (method.startsWith(u"Network."))
        m_network->handleEvent(method, params, session);
    else
        m_targets->handleEvent(method, params, session);
}

void DevToolsSession::evaluateIn(const QString& session, const QString& expression,
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
        OnSession(session));
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
                      evaluateIn(session, expression, [context, answer](const QJsonValue& value) {
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
    m_targets->whenSettled([this, gathering, expression](bool ready) {
        const QStringList sessions = ready ? m_targets->pages() : QStringList();
        gathering->waiting = static_cast<int>(sessions.size());
        if (sessions.isEmpty())
            gathering->give();
        for (const QString& session : sessions) {
            evaluateIn(session, expression, [gathering](const QJsonValue& value) {
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
        const QStringList sessions = m_targets->framesOf(page);
        gathering->waiting = static_cast<int>(sessions.size());
        for (const QString& session : sessions) {
            m_targets->listContexts(session, [this, session, script, take, frameDone,
                                              gathering](const QList<int>& contexts) {
                // Each frame's own world; the page's when its frames could not be listed.
                const QList<int> worlds = contexts.isEmpty() ? QList<int>{0} : contexts;
                auto left = std::make_shared<int>(static_cast<int>(worlds.size()));
                for (const int world : worlds) {
                    evaluateIn(
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
    m_network->fetchBody(*loaded, giveOnce);
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
    m_targets->whenSettled([this, question](bool ready) {
        if (ready)
            findVisibleTab(question);
        else
            question->give({}, {});
    });
}

void DevToolsSession::findVisibleTab(const std::shared_ptr<TabQuestion>& question)
{
    const QStringList sessions = m_targets->pages();
    if (sessions.isEmpty()) {
        question->give({}, {});
        return;
    }
    question->waiting = static_cast<int>(sessions.size());
    for (const QString& session : sessions) {
        evaluateIn(session, QString::fromLatin1(kVisibilityScript),
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
            const QString session =
                m_targets->pageSession(page.value(QStringLiteral("id")).toString());
            if (!session.isEmpty()) {
                question->give(session, page.value(QStringLiteral("url")).toString());
                return;
            }
        }
        // A browser that answers no /json/ discovery (its everyday profile): any page.
        if (const QStringList pages = m_targets->pages(); !pages.isEmpty()) {
            question->give(pages.front(), m_targets->sessionUrl(pages.front()));
            return;
        }
        question->give({}, {});
    });
}

// --- the movie under a point ---------------------------------------------------------------

void DevToolsSession::FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen)
{
    m_connection->setProfileSocketPath(browser.socketPath);
    m_connection->open(browser.port);
    m_point->ask(screen);
}

void DevToolsSession::PauseMovieAtPoint(QPoint screen)
{
    m_point->pause(screen);
}

PointDocuments::Readiness DevToolsSession::prepare()
{
    const Readiness readiness = readinessOf(m_connection->open(m_connection->port()));
    // A page being attached (the browser has just told of it) is waited for: it may well be the
    // one under the pointer.
    return readiness == Readiness::Ready && m_targets->isAttaching() ? Readiness::Waiting
                                                                     : readiness;
}

void DevToolsSession::evaluate(const QString& document, const QString& expression, Value reply)
{
    evaluateIn(document, expression, std::move(reply));
}

void DevToolsSession::movePointer(const QString& page, QPointF css, std::function<void()> done)
{
    m_connection->call(
        QStringLiteral("Input.dispatchMouseEvent"),
        {{QStringLiteral("type"), QStringLiteral("mouseMoved")},
         {QStringLiteral("x"), css.x()},
         {QStringLiteral("y"), css.y()}},
        [done = std::move(done)](const QJsonObject&) { done(); }, OnSession(page));
}

QString DevToolsSession::frameDocument(const QString& parent, const QString& src) const
{
    return m_targets->frameSessionFor(parent, src);
}

void DevToolsSession::pageAt(QPoint screen, Page then)
{
    auto search = std::make_shared<PageSearch>();
    search->screen = screen;
    search->then = std::move(then);
    const QStringList sessions = m_targets->pages();
    if (sessions.contains(m_visibleSession)) {
        askPages(search, {m_visibleSession});
    } else {
        search->askedAll = true;
        askPages(search, sessions);
    }
}

void DevToolsSession::askPages(const std::shared_ptr<PageSearch>& search,
                               const QStringList& sessions)
{
    if (sessions.isEmpty()) {
        search->give({}, {});
        return;
    }
    search->waiting = static_cast<int>(sessions.size());
    for (const QString& session : sessions) {
        evaluateIn(session, PageScripts::metrics(),
                   [this, search, session](const QJsonValue& metrics) {
                       metricsArrived(search, session, metrics.toObject());
                   });
    }
}

void DevToolsSession::metricsArrived(const std::shared_ptr<PageSearch>& search,
                                     const QString& session, const QJsonObject& metrics)
{
    --search->waiting;
    if (search->settled)
        return;
    const std::optional<ViewportGeometry> geometry = PageScripts::geometryOf(metrics);
    if (geometry && metrics.value(QStringLiteral("visible")).toBool()) {
        if (PageScripts::viewportOnScreen(metrics, *geometry).contains(search->screen)) {
            m_visibleSession = session;
            search->give(session, metrics);
            return;
        }
        if (search->fallback.isEmpty()) {
            search->fallback = session;
            search->fallbackMetrics = metrics;
        }
    }
    if (search->waiting > 0)
        return;
    if (!search->askedAll) {
        // The page last seen is hidden now, or elsewhere: every page is asked.
        search->askedAll = true;
        search->fallback.clear();
        QStringList sessions = m_targets->pages();
        sessions.removeAll(session);
        if (!sessions.isEmpty()) {
            askPages(search, sessions);
            return;
        }
    }
    if (!search->fallback.isEmpty())
        m_visibleSession = search->fallback;
    search->give(search->fallback, search->fallbackMetrics);
}
