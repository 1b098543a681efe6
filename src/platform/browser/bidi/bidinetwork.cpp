#include "bidinetwork.h"

#include "browsersession.h"

void BidiNetworkWatch::handleEvent(const QString& method, const QJsonObject& params)
{
    if (method != u"network.responseCompleted")
        return;
    const QJsonObject response = params.value(QStringLiteral("response")).toObject();
    const QString url = response.value(QStringLiteral("url")).toString();
    if (!IsFlashMovieResponse(response.value(QStringLiteral("mimeType")).toString().toLower(), url))
        return;
    m_loaded.append({params.value(QStringLiteral("context")).toString(), url});
    if (m_loaded.size() > kMaxLoaded)
        m_loaded.removeFirst();
}

QStringList BidiNetworkWatch::moviesOf(const QStringList& contexts) const
{
    QStringList movies;
    for (const auto& [context, url] : m_loaded) {
        if (contexts.contains(context))
            movies << url;
    }
    return movies;
}
