#pragma once

#include "keptfiles.h"
#include "requesthead.h"
#include "webarchive.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <QUrl>

#include <functional>
#include <optional>
#include <memory>

class FileKeeper;
class QTcpServer;
class QTcpSocket;
class PreviewFolder;
class THTTPGet;

/// Where a local movie file came from, as the catalogue knows it.
struct MovieOrigin
{
    QString address;        ///< the movie's web address; empty: not known
    bool keepFiles = false; ///< fetch and keep the files it loads that are not kept yet
};

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
    /// player loads it from, or empty for a name that is no movie.
    ///
    /// A movie whose web address is known is served under that address's own path, so that its
    /// relative loads resolve as on its site, and the player page sends its absolute loads here
    /// too. Each load is answered from the movie's kept files (KeptRootFor, or the kept-files
    /// folder beside it), else from the files of its own folder; with keepFiles it is fetched
    /// from the site, kept, and served. A remote movie's loads are fetched for the preview.
    /// A local movie without a known address reaches the files of its own folder and below, and
    /// then nothing of the web: reading local files and reaching the network never go together.
    /// A Ruffle bundle (a .ruf, or its folder) is unpacked into the server's own folder, gone
    /// with it, and plays as the movie it names.
    QString addMovie(const QString& source);

    /// Tells where a local movie file came from (the catalogue's item for that file).
    using OriginLookup = std::function<MovieOrigin(const QString& localFile)>;
    void setOriginLookup(OriginLookup lookup) { m_originLookup = std::move(lookup); }
    /// Where a file whose address is gone is looked for while keeping (none: nowhere).
    void setArchive(const ArchiveAccess& archive) { m_archive = archive; }

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

signals:
    /// A file the movie from `movieAddress` loaded was kept; `count` files are kept for it now.
    void filesKept(const QString& movieAddress, int count);
    /// A movie asked for a file it loads (kept or not).
    void loadAsked(const QUrl& address);

private:
    struct Movie
    {
        QString source;
        QString file; ///< local file to serve; for a remote movie, once fetched
        QString name; ///< the last part of the address the player loads it from
        bool remote = false;
        /// Known by its file alone: it reads its own folder and below, and nothing of the web.
        /// A movie with a web address reads its file and its kept files only.
        bool local = false;
        bool fetching = false;
        bool failed = false;
        QList<QTcpSocket*> waiting;
        QUrl origin;          ///< its web address, when known
        QString keptRoot;     ///< where its loads are kept, when anywhere
        bool capture = false; ///< fetch and keep what is not kept yet
        FileKeeper* keeper = nullptr;
        /// The layout's manifest, read once while no keeper holds it.
        std::optional<KeptManifest> manifest;
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
    /// A load of a movie with a web address: from its folder, its kept files, or its site.
    void serveLoad(QTcpSocket* socket, const QString& id, const QUrl& address,
                   const QStringList& relative, bool headOnly);
    /// The file kept for an address in the movie's layout, confined to it; empty when none.
    QString keptFileFor(Movie& movie, const QUrl& address) const;
    /// The real path of the kept file at `path` below `keptRoot`, or empty when it is no
    /// regular file or lies (through a link) outside the layout.
    static QString keptFileInside(const QString& keptRoot, const QString& path);
    /// The file of a local movie's folder a relative path names, confined to it; empty: none.
    static QString besideFile(const Movie& movie, const QStringList& relative);
    FileKeeper* keeperOf(const QString& id);
    /// The folder remote movies and their loads are fetched into for this run.
    QString fetchedFolder();
    /// Removes the preview folders that killed runs left in the cache folder.
    static void sweepPreviewFolders();
    /// The movie a bundle names, unpacked once; any other source as it is.
    QString unpackedBundle(const QString& source);
    void settleMovie(Movie& movie, const QString& source);
    static void refuse(QTcpSocket* socket, int status, const QByteArray& reason);

    QString m_playerFiles;
    QString m_token;
    QTcpServer* m_server;
    int m_connections = 0;                ///< open connections
    QList<QPointer<QTcpSocket>> m_silent; ///< connections in the order taken, until they ask
    QHash<QString, Movie> m_movies;       ///< by id
    QHash<QString, QString> m_ids;        ///< id by source
    QHash<QString, QString> m_bundles;    ///< a bundle's unpacked movie, by the bundle
    std::unique_ptr<PreviewFolder> m_fetched;
    int m_nextId = 1;
    OriginLookup m_originLookup;
    ArchiveAccess m_archive;
    qint64 m_previewBytes = kMaxPreviewBytes;
    int m_previewSeconds = kPreviewSeconds;
};
