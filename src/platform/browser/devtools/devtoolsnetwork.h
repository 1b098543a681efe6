#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class DevToolsConnection;

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

    DevToolsNetworkWatch(DevToolsConnection& connection, Sessions sessions);

    /// Takes a Network.* event of a session.
    void handleEvent(const QString& method, const QJsonObject& params, const QString& session);

    QList<Loaded> moviesOf(const QString& page) const { return m_movies.value(page); }
    std::optional<Loaded> find(const QString& url) const;

    void forget(const QString& session);
    void clear();

    /// The browser's own copy of a response a watched session loaded: its body, when that
    /// begins as a Flash movie; empty otherwise.
    void fetchBody(const Loaded& loaded, std::function<void(const QByteArray&)> then);

private:
    static QString key(const QString& session, const QString& requestId)
    {
        return session + u'\n' + requestId;
    }
    void keep(const QString& session, const QString& requestId, const QString& url);
    void checkFirstBytes(const QString& session, const QString& requestId, const QString& url);

    DevToolsConnection& m_connection;
    Sessions m_sessions;
    QHash<QString, QList<Loaded>> m_movies; ///< by the page (tab) that fetched them
    QHash<QString, QString> m_candidates;   ///< untyped bodies still loading → their address
};
