#include "devtoolstargets.h"

#include "devtoolsconnection.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

bool isWatchedPage(const QJsonObject& targetInfo)
{
    const QString url = targetInfo.value(QStringLiteral("url")).toString();
    return targetInfo.value(QStringLiteral("type")).toString() == u"page" &&
           !url.startsWith(QStringLiteral("devtools://")) &&
           !url.startsWith(QStringLiteral("chrome-extension://"));
}

} // namespace

DevToolsTargets::DevToolsTargets(DevToolsConnection& connection, std::function<void()> attached,
                                 std::function<void(const QString& session)> forgotten)
    : m_connection(connection)
    , m_attached(std::move(attached))
    , m_forgotten(std::move(forgotten))
{
}

void DevToolsTargets::clear()
{
    m_pages.clear();
    m_frameParents.clear();
    m_sessionTargets.clear();
    m_targetUrls.clear();
    m_contextLists.clear();
    for (const auto& then : std::exchange(m_settledWaiters, {}))
        then(false);
}

bool DevToolsTargets::handleEvent(const QString& method, const QJsonObject& params,
                                  const QString& session)
{
    if (method == u"Runtime.executionContextCreated") {
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
        forgetSession(detached);
    } else {
        return false;
    }
    return true;
}

void DevToolsTargets::attach(const QJsonObject& targetInfo)
{
    const QString targetId = targetInfo.value(QStringLiteral("targetId")).toString();
    if (!isWatchedPage(targetInfo) || m_pages.contains(targetId) || m_pages.size() >= kMaxPages)
        return;
    m_pages.insert(targetId, QString()); // attaching
    m_connection.call(QStringLiteral("Target.attachToTarget"),
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
                          m_attached();
                      });
}

void DevToolsTargets::watch(const QString& session)
{
    // The frames of other sites in the page (each a target of its own) are attached as they
    // come, and what the page fetches is watched for Flash movies.
    m_connection.call(
        QStringLiteral("Target.setAutoAttach"),
        {{QStringLiteral("autoAttach"), true},
         {QStringLiteral("waitForDebuggerOnStart"), false},
         {QStringLiteral("flatten"), true}},
        [](const QJsonObject&) {}, OnSession(session));
    m_connection.call(
        QStringLiteral("Network.enable"),
        {{QStringLiteral("maxResourceBufferSize"), kMaxKeptBody},
         {QStringLiteral("maxTotalBufferSize"), 4 * kMaxKeptBody}},
        [](const QJsonObject&) {}, OnSession(session));
}

void DevToolsTargets::attachedFrame(const QJsonObject& params, const QString& parent)
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

void DevToolsTargets::forgetSession(const QString& session)
{
    // The frames inside it go with it.
    const QStringList children = m_frameParents.keys(session);
    for (const QString& child : children)
        forgetSession(child);
    m_frameParents.remove(session);
    m_sessionTargets.remove(session);
    m_forgotten(session);
}

QStringList DevToolsTargets::pages() const
{
    QStringList sessions = m_pages.values();
    sessions.removeAll(QString());
    return sessions;
}

bool DevToolsTargets::isAttaching() const
{
    return std::any_of(m_pages.cbegin(), m_pages.cend(),
                       [](const QString& session) { return session.isEmpty(); });
}

QString DevToolsTargets::sessionUrl(const QString& session) const
{
    return m_targetUrls.value(m_sessionTargets.value(session));
}

QString DevToolsTargets::topSessionOf(QString session) const
{
    for (int depth = 0; depth < kMaxFrames && m_frameParents.contains(session); ++depth)
        session = m_frameParents.value(session);
    return session;
}

QStringList DevToolsTargets::framesOf(const QString& page) const
{
    QStringList sessions{page};
    for (qsizetype i = 0; i < sessions.size() && sessions.size() < kMaxFrames; ++i)
        sessions << m_frameParents.keys(sessions[i]);
    return sessions;
}

QString DevToolsTargets::frameSessionFor(const QString& parent, const QString& src) const
{
    const QStringList children = m_frameParents.keys(parent);
    for (const QString& child : children) {
        if (sessionUrl(child) == src)
            return child;
    }
    // A frame that went elsewhere since its element named it: the only one there is.
    return children.size() == 1 ? children.front() : QString();
}

bool DevToolsTargets::isPageDocument(const QString& session, const QString& frameId) const
{
    return !m_frameParents.contains(session) && m_sessionTargets.value(session) == frameId;
}

void DevToolsTargets::listContexts(const QString& session,
                                   std::function<void(const QList<int>&)> then)
{
    if (m_contextLists.contains(session)) {
        then({}); // listed already for another question: its page's own world will do
        return;
    }
    // Enabling the runtime tells of every execution context there is before it answers; it is
    // switched off again at once, so that the page's console does not stream to us.
    m_contextLists.insert(session, {});
    m_connection.call(
        QStringLiteral("Runtime.enable"), {},
        [this, session, then = std::move(then)](const QJsonObject&) {
            const QList<int> contexts = m_contextLists.take(session);
            m_connection.call(
                QStringLiteral("Runtime.disable"), {}, [](const QJsonObject&) {},
                OnSession(session));
            then(contexts);
        },
        OnSession(session));
}

void DevToolsTargets::whenSettled(std::function<void(bool ready)> then)
{
    m_settledWaiters.append(std::move(then));
    if (m_connection.isReady() && !isAttaching())
        QTimer::singleShot(0, &m_connection, [this] { runSettledWaiters(); });
}

void DevToolsTargets::runSettledWaiters()
{
    if (!m_connection.isReady() || isAttaching())
        return;
    for (const auto& then : std::exchange(m_settledWaiters, {}))
        then(true);
}
