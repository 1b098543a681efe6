#pragma once

#include "requesthead.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QTcpServer;
class QTcpSocket;
class QTemporaryDir;
class THTTPGet;

/// The player's own web server on 127.0.0.1 and a free port, for one run of the program. It serves
/// the player page and Ruffle's files, and the movies the program hands it, all below a path
/// holding a token that is new every run. It refuses everything else, never lists a folder, and
/// answers only its own machine, and only requests that name it as their Host. Connections are
/// bounded in number, the oldest silent one making room for a new one; a request must arrive
/// whole within seconds, and a request larger than its limit is refused. A remote movie is fetched
/// by the program itself, so that the browser engine's cross-origin rules do not keep it from the
/// player.
class MovieServer final : public QObject
{
    Q_OBJECT
public:
    /// `playerFiles` holds ruffle.js and the files it loads.
    explicit MovieServer(const QString& playerFiles, QObject* parent = nullptr);
    ~MovieServer() override;
    Q_DISABLE_COPY_MOVE(MovieServer)

    bool isListening() const;
    quint16 port() const;
    /// The address of the player page.
    QString pageUrl() const;
    /// Makes a movie available: a local file path or an http(s) URL. Returns the address the
    /// player loads it from, or empty for a name that is no movie. A local movie's relative
    /// loads (a loader's game, its music, its levels) reach the files of its own folder.
    QString addMovie(const QString& source);

    /// A remote movie fetched for a preview is at most this large and takes at most this long.
    static constexpr qint64 kMaxPreviewBytes = qint64(256) << 20;
    static constexpr int kPreviewSeconds = 120;
    void setPreviewLimits(qint64 bytes, int seconds)
    {
        m_previewBytes = bytes;
        m_previewSeconds = seconds;
    }

    /// Connections open now.
    int connectionCount() const { return m_connections; }

    /// Only connections from this machine are served.
    static bool isAllowedPeer(const QHostAddress& peer);

private:
    struct Movie
    {
        QString source;
        QString file; ///< local file to serve; for a remote movie, once fetched
        bool remote = false;
        bool fetching = false;
        bool failed = false;
        QList<QTcpSocket*> waiting;
    };

    void acceptConnections();
    /// Closes the oldest connection that has not sent its request; false when there is none.
    bool dropOldestSilentConnection();
    /// Whether a request's Host names this server: its loopback address (or "localhost") and
    /// its port.
    bool isOwnHost(const QByteArray& host) const;
    void handle(QTcpSocket* socket);
    void serveFile(QTcpSocket* socket, const QString& path, const QByteArray& type, bool headOnly);
    void serveMovie(QTcpSocket* socket, const QString& id, bool headOnly);
    /// A local movie, or a file of its folder named by a path relative to it.
    void serveBeside(QTcpSocket* socket, const QString& id, const QStringList& relative,
                     bool headOnly);
    void fetch(const QString& id);
    static void refuse(QTcpSocket* socket, int status, const QByteArray& reason);

    QString m_playerFiles;
    QString m_token;
    QTcpServer* m_server;
    int m_connections = 0;                ///< open connections
    QList<QPointer<QTcpSocket>> m_silent; ///< connections in the order taken, until they ask
    QHash<QString, Movie> m_movies;       ///< by id
    QHash<QString, QString> m_ids;        ///< id by source
    std::unique_ptr<QTemporaryDir> m_fetched;
    int m_nextId = 1;
    qint64 m_previewBytes = kMaxPreviewBytes;
    int m_previewSeconds = kPreviewSeconds;
};
