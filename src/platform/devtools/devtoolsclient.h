#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QDeadlineTimer>
#include <QString>
#include <QUrl>

#include <optional>

/// A small, synchronous client of the Chromium DevTools protocol on 127.0.0.1: lists the page
/// targets and evaluates script in one page. Every call gives up after its time-out (a busy or
/// hung browser answers nothing) and then answers none; one client serves one query, and all its
/// calls together end by the query's deadline. It only ever connects to the debugging port on
/// the loopback address, whatever host the browser's answers name.
class DevToolsClient final
{
public:
    explicit DevToolsClient(quint16 port, int timeoutMs = 1000, int queryMs = 3000);

    /// At most this many pages are listed: a query never walks more.
    static constexpr int kMaxPages = 16;

    /// The page targets ("type" "page"), as /json/list describes them.
    std::optional<QJsonArray> pages() const;

    /// Evaluates an expression in the page behind `webSocketUrl` and returns its value (by value).
    std::optional<QJsonValue> evaluate(const QString& webSocketUrl,
                                       const QString& expression) const;

    /// The address a page's socket is reached at: its path on the debugging port of this
    /// machine. Empty for a path that is no DevTools page.
    QUrl socketUrl(const QString& webSocketDebuggerUrl) const;

private:
    /// The wait for one call: its time-out, cut to what is left of the query's deadline.
    int waitMs() const;

    quint16 m_port;
    int m_timeoutMs;
    QDeadlineTimer m_query;
};

/// The contents of a regular file of at most `limit` bytes in a folder of another program's;
/// empty for anything else (a FIFO, a device, a link, a larger file), never blocking.
QByteArray ReadSmallRegularFile(const QString& path, qsizetype limit = 4096);

/// The browser's debugging port from its command line (--remote-debugging-port=N with N > 0) or
/// from DevToolsActivePort in its --user-data-dir; 0 when neither gives one.
quint16 DebuggingPortOfProcess(qint64 pid);
/// The same from the parts of a command line, for tests.
quint16 DebuggingPortFromCommandLine(const QStringList& arguments);
