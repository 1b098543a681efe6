#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

/// A small, synchronous client of the Chromium DevTools protocol on 127.0.0.1: lists the page
/// targets and evaluates script in one page. Every call gives up after its time-out (a busy or
/// hung browser answers nothing) and then answers none.
class DevToolsClient final
{
public:
    explicit DevToolsClient(quint16 port, int timeoutMs = 1000);

    /// The page targets ("type" "page"), as /json/list describes them.
    std::optional<QJsonArray> pages() const;

    /// Evaluates an expression in the page behind `webSocketUrl` and returns its value (by value).
    std::optional<QJsonValue> evaluate(const QString& webSocketUrl,
                                       const QString& expression) const;

private:
    quint16 m_port;
    int m_timeoutMs;
};

/// The browser's debugging port from its command line (--remote-debugging-port=N with N > 0) or
/// from DevToolsActivePort in its --user-data-dir; 0 when neither gives one.
quint16 DebuggingPortOfProcess(qint64 pid);
/// The same from the parts of a command line, for tests.
quint16 DebuggingPortFromCommandLine(const QStringList& arguments);
