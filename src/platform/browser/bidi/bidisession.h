#pragma once

#include "browsersession.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QPointF>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class BidiConnection;

/// Firefox's pages through WebDriver BiDi: one session on the browser's socket, its browsing
/// contexts (a tab, and each frame in it, of whatever site) asked by script, and what they
/// fetch watched while the session runs. This is the one place that speaks BiDi.
///
/// Firefox allows one session at a time: while another holder has it, every question is
/// answered empty and sessionRefused() tells why.
class BidiSession final : public BrowserSession
{
    Q_OBJECT
public:
    /// At most this many fetched movies are remembered.
    static constexpr int kMaxLoaded = 500;

    explicit BidiSession(QObject* parent = nullptr);
    ~BidiSession() override;
    Q_DISABLE_COPY_MOVE(BidiSession)

    void FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen) override;
    void PauseMovieAtPoint(QPoint screen) override;
    QString pageUrl() const override { return m_pageUrl; }
    void GetAddressBarText(const BrowserEndpoint& browser, QObject* context,
                           AddressAnswer answer) override;
    void FindTabMovies(const BrowserEndpoint& browser, QObject* context,
                       MoviesAnswer answer) override;
    /// Firefox's own copy is not asked for: always empty.
    void FetchLoadedMovie(const BrowserEndpoint& browser, const QString& url, QObject* context,
                          BodyAnswer answer) override;

    /// Ends the session, so that another program may have Firefox's one; `done` runs once it
    /// has ended (at once when none is open).
    void end(std::function<void()> done);

    /// Whether the browser refused the session the last time it was asked (another program,
    /// or another Clip Vault, holds the one it allows).
    bool sessionRefused() const;

private:
    using Tab = std::function<void(const QJsonObject& context)>;
    struct Round;

    /// The browsing context of the visible tab (with its frames as "children"), or an empty
    /// object; once the session is ready.
    void visibleTab(const BrowserEndpoint& browser, QObject* context, Tab then);
    /// Evaluates an expression in a browsing context; its value as JSON (undefined when none).
    void evaluate(const QString& context, const QString& expression,
                  std::function<void(const QJsonValue&)> reply);
    void eventReceived(const QString& method, const QJsonObject& params);

    void startNext();
    void findIn(const std::shared_ptr<Round>& round, const QJsonObject& tab);
    void findInContext(const std::shared_ptr<Round>& round, const QJsonObject& context, QPointF css,
                       QPointF offset, int depth);
    void answer(const std::shared_ptr<Round>& round, const std::optional<MovieAtPoint>& movie);
    void deadlinePassed();

    BidiConnection* m_connection;
    QString m_pageUrl;
    /// The movies the contexts fetched: context id → addresses, oldest first.
    QList<std::pair<QString, QString>> m_loaded;

    struct Hit
    {
        QPoint screen;
        QString context;
        QPointF css;
    };
    std::optional<Hit> m_lastHit;
    std::optional<std::pair<BrowserEndpoint, QPoint>> m_pending;
    std::shared_ptr<Round> m_round;
    QTimer m_answerDeadline;
    quint64 m_repliesWhenAsked = 0;
};
