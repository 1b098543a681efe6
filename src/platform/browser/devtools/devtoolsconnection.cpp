#include "devtoolsconnection.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

#include <memory>
#include <utility>

void DevToolsConnection::fetchJson(const QString& path, std::function<void(const QByteArray&)> done)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path)));
    request.setTransferTimeout(kConnectMs);
    QNetworkReply* reply = network().get(request);
    auto finish = std::make_shared<std::function<void(const QByteArray&)>>(std::move(done));
    connect(reply, &QNetworkReply::finished, this, [reply, finish] {
        reply->deleteLater();
        if (*finish)
            std::exchange(*finish, nullptr)(
                reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray());
    });
    // A reply that never ends must not grow without end: past the bound it is no browser's.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received) {
        if (received > kMaxListBytes)
            reply->abort();
    });
    // Read no longer than the connection it belongs to lives.
    connect(this, &BrowserConnection::closed, reply, &QNetworkReply::abort);
}

void DevToolsConnection::findSocket(quint16 port)
{
    fetchJson(QStringLiteral("/json/version"), [this, port](const QByteArray& body) {
        if (port != this->port() || state() != State::Opening)
            return; // an answer for a browser since left
        QString path = QUrl(QJsonDocument::fromJson(body)
                                .object()
                                .value(QStringLiteral("webSocketDebuggerUrl"))
                                .toString())
                           .path();
        m_route = QStringLiteral("/json/version");
        if (path.isEmpty() && !m_profilePath.isEmpty()) {
            // Remote debugging allowed on the everyday profile: no discovery, the endpoint is
            // the one the profile names.
            path = m_profilePath;
            m_route = QStringLiteral("DevToolsActivePort");
        }
        if (!path.startsWith(QStringLiteral("/devtools/browser/")) ||
            path.contains(QStringLiteral(".."))) {
            fail();
            return;
        }
        openSocket(loopbackUrl(path));
    });
}

void DevToolsConnection::greet()
{
    // The browser tells of every target it has, then of each one that comes, changes or goes.
    call(QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}},
         [this](const QJsonObject&) { becomeReady(); });
}
