#pragma once

#include "browserconnection.h"

#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <functional>

/// Firefox's BiDi socket at ws://127.0.0.1:PORT/session: a session asked for once it opens,
/// and what the contexts fetch subscribed to.
class BidiConnection final : public BrowserConnection
{
public:
    using BrowserConnection::BrowserConnection;

    /// How long a new session is waited for once asked (see greet()).
    static constexpr int kSessionNewMs = 30000;

    /// Whether the browser refused the session (another holder has the one it allows).
    bool refused() const { return m_refused; }

    /// Ends the session: Firefox keeps a session whose socket merely closed, and allows no
    /// other until it ends. `done` runs once it has.
    void end(std::function<void()> done);

    /// Evaluates an expression in a browsing context; its value as JSON (undefined when none
    /// came or the script threw). Plain data crosses as JSON text.
    void evaluate(const QString& context, const QString& expression,
                  std::function<void(const QJsonValue&)> reply);

    /// The events the session subscribes to once it is open.
    void setSubscriptions(QStringList events) { m_events = std::move(events); }

protected:
    void findSocket(quint16) override;
    bool farewell() override;
    void greet() override;

private:
    QStringList m_events{QStringLiteral("network.responseCompleted")};
    bool m_refused = false;
    bool m_ending = false;
};
