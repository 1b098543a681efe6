#include "devtoolsnetwork.h"

#include "browsersession.h"
#include "devtoolsconnection.h"
#include "filetransfer.h"

#include <utility>

namespace {

bool isUntyped(const QString& type)
{
    return type.isEmpty() || type == u"application/octet-stream" ||
           type == u"binary/octet-stream" || type == u"application/x-download";
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

DevToolsNetworkWatch::DevToolsNetworkWatch(DevToolsConnection& connection, Sessions sessions)
    : m_connection(connection)
    , m_sessions(std::move(sessions))
{
}

void DevToolsNetworkWatch::handleEvent(const QString& method, const QJsonObject& params,
                                       const QString& session)
{
    const QString requestId = params.value(QStringLiteral("requestId")).toString();
    if (method == u"Network.requestWillBeSent") {
        if (params.value(QStringLiteral("type")).toString() == u"Document" &&
            m_sessions.isPageDocument(session, params.value(QStringLiteral("frameId")).toString()))
            m_movies.remove(session);
    } else if (method == u"Network.responseReceived") {
        const QJsonObject response = params.value(QStringLiteral("response")).toObject();
        const QString url = response.value(QStringLiteral("url")).toString();
        const QString type = response.value(QStringLiteral("mimeType")).toString().toLower();
        if (IsFlashMovieResponse(type, url))
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

std::optional<DevToolsNetworkWatch::Loaded> DevToolsNetworkWatch::find(const QString& url) const
{
    for (const QList<Loaded>& movies : m_movies) {
        for (const Loaded& movie : movies) {
            if (movie.url == url)
                return movie;
        }
    }
    return std::nullopt;
}

void DevToolsNetworkWatch::forget(const QString& session)
{
    m_movies.remove(session);
    for (QList<Loaded>& movies : m_movies)
        movies.removeIf([&](const Loaded& movie) { return movie.session == session; });
    m_candidates.removeIf(
        [&](auto candidate) { return candidate.key().startsWith(session + u'\n'); });
}

void DevToolsNetworkWatch::clear()
{
    m_movies.clear();
    m_candidates.clear();
}

void DevToolsNetworkWatch::keep(const QString& session, const QString& requestId,
                                const QString& url)
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

void DevToolsNetworkWatch::fetchBody(const Loaded& loaded,
                                     std::function<void(const QByteArray&)> then)
{
    m_connection.call(QStringLiteral("Network.getResponseBody"),
                      {{QStringLiteral("requestId"), loaded.requestId}},
                      [then = std::move(then)](const QJsonObject& result) {
                          const QByteArray body = ResponseBody(result);
                          then(BeginsAsFlashMovie(body) ? body : QByteArray());
                      },
                      {{QStringLiteral("sessionId"), loaded.session}});
}

void DevToolsNetworkWatch::checkFirstBytes(const QString& session, const QString& requestId,
                                           const QString& url)
{
    fetchBody({url, {}, session, requestId},
              [this, session, requestId, url](const QByteArray& body) {
                  if (!body.isEmpty())
                      keep(session, requestId, url);
              });
}
