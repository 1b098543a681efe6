#include "movieserver.h"

#include "playerfiles.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

/// One raw request to the server, which runs on this thread: the event loop keeps turning while
/// the answer comes. Returns the status line and the body.
std::pair<QByteArray, QByteArray> request(quint16 port, const QByteArray& path)
{
    QTcpSocket socket;
    QByteArray answer;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    closed.wait(5000);
    answer += socket.readAll();
    const qsizetype headEnd = answer.indexOf("\r\n\r\n");
    return {answer.left(answer.indexOf("\r\n")),
            headEnd < 0 ? QByteArray() : answer.mid(headEnd + 4)};
}

QByteArray pathOf(const QString& url)
{
    return QUrl(url).path(QUrl::FullyEncoded).toUtf8();
}

} // namespace

TEST(MovieServer, ServesThePlayerAndHandedMoviesOnlyBehindItsToken)
{
    QTemporaryDir folder;
    const QString movie = QDir(folder.path()).filePath(QStringLiteral("handed.swf"));
    const QString other = QDir(folder.path()).filePath(QStringLiteral("other.swf"));
    ASSERT_TRUE(writeFile(movie, "FWS handed"));
    ASSERT_TRUE(writeFile(other, "FWS not handed"));
    MovieServer server(PlayerFiles::ruffleFolder());
    ASSERT_TRUE(server.isListening());

    const QByteArray page = pathOf(server.pageUrl());
    EXPECT_EQ(request(server.port(), page).first, QByteArray("HTTP/1.1 200 OK"));
    const QByteArray token = page.split('/').at(1);
    EXPECT_EQ(token.size(), 48) << "an unguessable token";
    EXPECT_EQ(request(server.port(), "/" + token + "/ruffle/ruffle.js").first,
              QByteArray("HTTP/1.1 200 OK"));

    const QString address = server.addMovie(movie);
    ASSERT_FALSE(address.isEmpty());
    const auto answer = request(server.port(), pathOf(address));
    EXPECT_EQ(answer.first, QByteArray("HTTP/1.1 200 OK"));
    EXPECT_EQ(answer.second, QByteArray("FWS handed"));

    // Everything else is refused.
    const QByteArray wrongToken = QByteArray(page).replace(token, QByteArray(48, 'a'));
    const QByteArray base = "/" + token;
    const QList<QByteArray> refused{wrongToken,
                                    QByteArray("/player.html"),
                                    QByteArray("/"),
                                    base + "/ruffle/",
                                    base + "/ruffle/../../../etc/passwd",
                                    base + "/ruffle/%2e%2e%2f%2e%2e%2fetc%2fpasswd",
                                    base + "/movie/999/other.swf",
                                    base + "/" + QUrl::toPercentEncoding(other),
                                    base + "/ruffle/.installed"};
    for (const QByteArray& path : refused)
        EXPECT_EQ(request(server.port(), path).first, QByteArray("HTTP/1.1 404 Not Found"))
            << path.constData();

    EXPECT_TRUE(server.addMovie(QStringLiteral("no flash")).isEmpty());
    EXPECT_TRUE(server.addMovie(QStringLiteral("/")).isEmpty());
    EXPECT_TRUE(MovieServer::isAllowedPeer(QHostAddress::LocalHost));
    EXPECT_TRUE(MovieServer::isAllowedPeer(QHostAddress::LocalHostIPv6));
    EXPECT_FALSE(MovieServer::isAllowedPeer(QHostAddress(QStringLiteral("192.0.2.7"))));
}
