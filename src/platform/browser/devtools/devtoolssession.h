#pragma once

#include "browsersession.h"
#include "pointquestion.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

#include <functional>
#include <memory>

class DevToolsConnection;
class DevToolsNetworkWatch;
class DevToolsTargets;

/// The browser's questions through the Chromium DevTools protocol, over one connection to the
/// browser's endpoint (DevToolsConnection), its pages and their frames of other sites attached
/// as they come and go (DevToolsTargets), and what they fetch watched (DevToolsNetworkWatch).
///
/// The movie under a point (MoviePointQuestion): the page last found visible is asked first;
/// when it is hidden or the point is outside it, every page is asked and the visible one under
/// the point wins. The visible tab: the page that calls itself visible, else the one the
/// browser lists first (it lists them most recently active first).
class DevToolsSession final : public BrowserSession, private PointDocuments
{
    Q_OBJECT
public:
    explicit DevToolsSession(QObject* parent = nullptr);
    ~DevToolsSession() override;
    Q_DISABLE_COPY_MOVE(DevToolsSession)

    void FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen) override;
    void PauseMovieAtPoint(QPoint screen) override;
    void GetAddressBarText(const BrowserEndpoint& browser, QObject* context,
                           AddressAnswer answer) override;
    void FindTabMovies(const BrowserEndpoint& browser, QObject* context,
                       MoviesAnswer answer) override;
    void FetchLoadedMovie(const BrowserEndpoint& browser, const QString& url, QObject* context,
                          BodyAnswer answer) override;

    using ValueAnswer = std::function<void(const QJsonValue& value)>;
    /// Evaluates an expression in the visible tab's page; `answer` gets its value (undefined
    /// when none came), as GetAddressBarText answers.
    void evaluateInVisibleTab(quint16 port, const QString& expression, QObject* context,
                              ValueAnswer answer);
    using ValuesAnswer = std::function<void(const QJsonArray& values)>;
    /// Evaluates an expression in every page the browser has; `answer` gets the values that
    /// came within kTabAnswerMs, in no particular order.
    void evaluateInEveryTab(quint16 port, const QString& expression, QObject* context,
                            ValuesAnswer answer);

    /// How the browser's socket was found: "/json/version", or "DevToolsActivePort" (the
    /// endpoint the everyday profile names when remote debugging is allowed there).
    QString route() const;

    /// Whether the connection is open and its pages attached.
    bool isReady() const;

private:
    struct PageSearch;
    struct TabQuestion;
    using TabAnswer = std::function<void(const QString& session, const QString& url)>;

    void connectionReady();
    void connectionClosed();
    void handleEvent(const QString& method, const QJsonObject& params, const QString& session);
    /// Evaluates in a session's page, or in one of its execution contexts (0: the page's own).
    void evaluateIn(const QString& session, const QString& expression,
                    std::function<void(const QJsonValue&)> reply, int contextId = 0);

    // The visible tab.
    void askVisibleTab(quint16 port, QObject* context, TabAnswer answer);
    void findVisibleTab(const std::shared_ptr<TabQuestion>& question);
    void takeFirstListedTab(const std::shared_ptr<TabQuestion>& question);

    // The movie under a point: the pages as the question asks them.
    Readiness prepare() override;
    void pageAt(QPoint screen, Page then) override;
    void evaluate(const QString& document, const QString& expression, Value reply) override;
    void movePointer(const QString& page, QPointF css, std::function<void()> done) override;
    QString frameDocument(const QString& parent, const QString& src) const override;
    void askPages(const std::shared_ptr<PageSearch>& search, const QStringList& sessions);
    void metricsArrived(const std::shared_ptr<PageSearch>& search, const QString& session,
                        const QJsonObject& metrics);

    DevToolsConnection* m_connection;
    std::unique_ptr<DevToolsTargets> m_targets;
    std::unique_ptr<DevToolsNetworkWatch> m_network;
    MoviePointQuestion* m_point;
    QString m_visibleSession; ///< the page last found under the pointer
};
