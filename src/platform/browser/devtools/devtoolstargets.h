#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class DevToolsConnection;

/// The browser's pages and the frames of other sites in them, as DevTools targets: each page is
/// attached (a flat session) as the browser tells of it, each frame of another site in it as it
/// comes, at every depth, and followed as they change and go. Attaching a page or frame also
/// starts watching what it fetches.
class DevToolsTargets
{
public:
    /// At most this many pages are attached.
    static constexpr int kMaxPages = 16;
    /// At most this many frames of other sites are attached, and documents listed in a tab.
    static constexpr int kMaxFrames = 64;
    /// The largest body the browser is asked to keep for a response, and handed over.
    static constexpr int kMaxKeptBody = 32 << 20;

    /// `attached`: a page was attached, or failed to be; `forgotten`: a session went.
    DevToolsTargets(DevToolsConnection& connection, std::function<void()> attached,
                    std::function<void(const QString& session)> forgotten);

    /// Takes a Target.* or Runtime.executionContextCreated event of a session; false for
    /// another.
    bool handleEvent(const QString& method, const QJsonObject& params, const QString& session);
    /// The connection closed: every target is gone, and every waiter hears so.
    void clear();

    /// The sessions of the attached pages.
    QStringList pages() const;
    /// The session of a page target (empty while it attaches, or when it is none of ours).
    QString pageSession(const QString& targetId) const { return m_pages.value(targetId); }
    QString targetUrl(const QString& targetId) const { return m_targetUrls.value(targetId); }
    bool isAttaching() const;

    QString sessionUrl(const QString& session) const;
    /// The page a frame's session belongs to (the session itself for a page).
    QString topSessionOf(QString session) const;
    /// A page's session and those of the frames of other sites in it, at every depth.
    QStringList framesOf(const QString& page) const;
    /// The session of the frame of another site in `parent` whose document is at `src`.
    QString frameSessionFor(const QString& parent, const QString& src) const;
    /// Whether a frame id names the document of a page session (a page target's id is its main
    /// frame's).
    bool isPageDocument(const QString& session, const QString& frameId) const;

    /// The main world of every frame a session's process holds (frames of the same site, and
    /// of other sites the browser keeps in the same process).
    void listContexts(const QString& session, std::function<void(const QList<int>&)> then);

    /// Runs `then` once the connection is ready and no page is being attached (true), or when
    /// the connection closed first (false).
    void whenSettled(std::function<void(bool ready)> then);
    /// Runs the waiters of whenSettled() when the pages are settled now.
    void runSettledWaiters();

private:
    void attach(const QJsonObject& targetInfo);
    void attachedFrame(const QJsonObject& params, const QString& parent);
    /// Attaches the frames of other sites in a page or frame and watches what it fetches.
    void watch(const QString& session);
    void forgetSession(const QString& session);

    DevToolsConnection& m_connection;
    std::function<void()> m_attached;
    std::function<void(const QString&)> m_forgotten;
    QHash<QString, QString> m_pages;           ///< target id → session id; empty while attaching
    QHash<QString, QString> m_frameParents;    ///< a frame's session → its parent's session
    QHash<QString, QString> m_sessionTargets;  ///< session → target id
    QHash<QString, QString> m_targetUrls;      ///< target id → its document's address
    QHash<QString, QList<int>> m_contextLists; ///< sessions whose frames are being listed
    QList<std::function<void(bool)>> m_settledWaiters;
};

/// The envelope of a call to a page's or frame's session.
inline QJsonObject OnSession(const QString& session)
{
    return {{QStringLiteral("sessionId"), session}};
}
