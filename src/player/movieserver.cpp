#include "movieserver.h"

#include "importcopies.h"

#include "filekeeper.h"
#include "httpget.h"
#include "keptfiles.h"
#include "previewfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <sys/socket.h>

#include <algorithm>
#include <mutex>

namespace {

constexpr qint64 kMaxRequest = 16 * 1024;
constexpr qint64 kChunk = 256 * 1024;
/// Connections open at once; past this the oldest that has not sent its request yet makes room,
/// so that idle connections of anyone on the machine never keep the player waiting.
constexpr int kMaxConnections = 256;
constexpr int kListenBacklog = 256;
/// A request must arrive whole this soon after its connection.
constexpr int kRequestTimeoutMs = 5000;
/// An answer whose reader takes nothing for this long is given up.
constexpr int kIdleTimeoutMs = 30000;

QString newToken()
{
    QByteArray bytes(24, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()),
                                          bytes.size() / 4);
    return QString::fromLatin1(bytes.toHex());
}

QByteArray typeOf(const QString& name)
{
    static const QList<std::pair<QString, QByteArray>> kTypes = {
        {QStringLiteral(".js"), "text/javascript"},
        {QStringLiteral(".wasm"), "application/wasm"},
        {QStringLiteral(".html"), "text/html; charset=utf-8"},
        {QStringLiteral(".swf"), "application/x-shockwave-flash"},
        {QStringLiteral(".xml"), "text/xml"},
        {QStringLiteral(".txt"), "text/plain"},
        {QStringLiteral(".json"), "application/json"},
        {QStringLiteral(".png"), "image/png"},
        {QStringLiteral(".jpg"), "image/jpeg"},
        {QStringLiteral(".gif"), "image/gif"},
        {QStringLiteral(".mp3"), "audio/mpeg"},
        {QStringLiteral(".flv"), "video/x-flv"},
    };
    for (const auto& [extension, type] : kTypes) {
        if (name.endsWith(extension, Qt::CaseInsensitive))
            return type;
    }
    return "application/octet-stream";
}

/// The address's path under the server: "site/<scheme>/<host[:port]>/<path>", so that relative
/// loads resolve against it as they would on the site.
QString sitePath(const QUrl& address)
{
    return QStringLiteral("site/") + address.scheme().toLower() + u'/' +
           address.authority(QUrl::FullyEncoded).toLower() + address.path(QUrl::FullyEncoded);
}

bool sameFile(const QUrl& a, const QUrl& b)
{
    return a.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment)
        .matches(b.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment), QUrl::None);
}

/// Where the origin of a local movie is known from its kept layout: the manifest's entry for
/// the file, or the movie the kept-files folder beside it belongs to.
QUrl originFromLayout(const QString& file, const QString& root)
{
    const KeptManifest manifest = ReadManifest(root);
    const QString canonical = QFileInfo(file).canonicalFilePath();
    if (canonical.startsWith(root + u'/')) {
        if (const KeptFile* kept = manifest.byPath(canonical.mid(root.size() + 1)))
            return QUrl(kept->url);
    }
    return root == QFileInfo(KeptFolderOf(canonical)).canonicalFilePath() ? QUrl(manifest.movieUrl)
                                                                          : QUrl();
}

bool isRemote(const QString& source)
{
    return source.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive) ||
           source.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive);
}

/// Ends an answer: once all of it is written the sending side is closed, and what the client
/// still sends is read and dropped until it closes too (or its deadline passes). Closing with
/// its data unread would reset the connection and could lose the answer on the way.
void endAnswer(QTcpSocket* socket)
{
    const auto halfClose = [socket] {
        if (socket->bytesToWrite() > 0 || socket->property("halfClosed").toBool())
            return;
        socket->setProperty("halfClosed", true);
        ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, halfClose);
    halfClose();
}

} // namespace

// The player page is a resource of this static library: it must be registered by hand.
static void initPlayerResources()
{
    Q_INIT_RESOURCE(player);
}

MovieServer::MovieServer(const QString& playerFiles, QObject* parent)
    : QObject(parent)
    , m_playerFiles(QFileInfo(playerFiles).canonicalFilePath())
    , m_token(newToken())
    , m_server(new QTcpServer(this))
{
    initPlayerResources();
    connect(m_server, &QTcpServer::newConnection, this, &MovieServer::acceptConnections);
    // A long queue: while the server is full, the player's own connection waits in it instead
    // of being dropped and retried seconds later.
    m_server->setListenBacklogSize(kListenBacklog);
    m_server->listen(QHostAddress::LocalHost, 0);
    sweepPreviewFolders();
}

void MovieServer::sweepPreviewFolders()
{
    // Once a run, off the window thread: the folders of killed runs may be large.
    static std::once_flag swept;
    std::call_once(swept, [] {
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        QThreadPool::globalInstance()->start([cache] { PreviewFolder::RemoveDead(cache); });
    });
}

MovieServer::~MovieServer() = default;

bool MovieServer::isListening() const
{
    return m_server->isListening();
}

quint16 MovieServer::port() const
{
    return m_server->serverPort();
}

QString MovieServer::pageUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/%2/player.html").arg(port()).arg(m_token);
}

bool MovieServer::isOwnHost(const QByteArray& host) const
{
    const QByteArray port = ':' + QByteArray::number(this->port());
    const QByteArray lower = host.toLower();
    return lower == "127.0.0.1" + port || lower == "localhost" + port;
}

bool MovieServer::isAllowedPeer(const QHostAddress& peer)
{
    return peer.isLoopback();
}

QString MovieServer::addMovie(const QString& given)
{
    const bool remote = isRemote(given);
    // A Ruffle bundle plays as the movie it names, unpacked with its files.
    const QString source = remote ? given : unpackedBundle(given);
    if (!remote && !QFileInfo(source).isFile())
        return {};
    QString id = m_ids.value(source);
    if (id.isEmpty()) {
        id = QString::number(m_nextId++);
        Movie movie;
        movie.source = source;
        movie.remote = remote;
        movie.file = remote ? QString() : QFileInfo(source).absoluteFilePath();
        m_movies.insert(id, movie);
        m_ids.insert(source, id);
    }
    // Each time: the item's choice to keep files may have changed, or its files been kept.
    Movie& movie = m_movies[id];
    settleMovie(movie, source);
    // The name at the end lets the player tell the movie's name; the id alone selects it.
    movie.name = QFileInfo(QUrl(source).path()).fileName();
    const QString base =
        QStringLiteral("http://127.0.0.1:%1/%2/movie/%3/").arg(port()).arg(m_token, id);
    if (movie.origin.isValid())
        return base + sitePath(movie.origin);
    return base + QString::fromUtf8(QUrl::toPercentEncoding(movie.name));
}

void MovieServer::settleMovie(Movie& movie, const QString& source)
{
    if (movie.remote) {
        movie.origin = QUrl(source);
        movie.capture = true; // into the preview's own folder, gone with the server
        return;
    }
    const MovieOrigin known = m_originLookup ? m_originLookup(movie.file) : MovieOrigin{};
    const QUrl address(known.address);
    const bool web =
        address.isValid() && (address.scheme() == u"http" || address.scheme() == u"https");
    movie.local = !web;
    const QString root = KeptRootFor(movie.file);
    movie.origin = web ? address : root.isEmpty() ? QUrl() : originFromLayout(movie.file, root);
    movie.capture = web && known.keepFiles;
    movie.keptRoot = !root.isEmpty() ? root : web ? KeptFolderOf(movie.file) : QString();
    movie.manifest.reset(); // read again when next asked: it may have grown since
    if (!movie.origin.isValid() || !KeptPathFor(movie.origin))
        movie.origin = QUrl(); // served as a plain file with its folder
}

bool MovieServer::dropOldestSilentConnection()
{
    while (!m_silent.isEmpty()) {
        const QPointer<QTcpSocket> oldest = m_silent.takeFirst();
        if (oldest && !oldest->property("answered").toBool()) {
            oldest->abort();
            delete oldest.data();
            return true;
        }
    }
    return false;
}

void MovieServer::acceptConnections()
{
    // Connections that asked, or went, need no place in the list.
    if (m_silent.size() > 2 * kMaxConnections)
        m_silent.removeIf([](const QPointer<QTcpSocket>& socket) {
            return !socket || socket->property("answered").toBool();
        });
    while (m_server->hasPendingConnections() &&
           (m_connections < kMaxConnections || dropOldestSilentConnection())) {
        QTcpSocket* socket = m_server->nextPendingConnection();
        if (!socket)
            return;
        if (!isAllowedPeer(socket->peerAddress())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        m_silent.append(socket);
        connect(socket, &QObject::destroyed, this, [this] {
            --m_connections;
            m_server->resumeAccepting();
            // Connections taken while full were not announced again: serve them now.
            QMetaObject::invokeMethod(this, &MovieServer::acceptConnections, Qt::QueuedConnection);
        });
        // Qt reads no more than this ahead: a body sent after the request is never buffered.
        socket->setReadBufferSize(kMaxRequest + 1);
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        deadline->setObjectName(QStringLiteral("deadline"));
        connect(deadline, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        deadline->start(kRequestTimeoutMs);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handle(socket); });
        // A connection that waited while the server was full may have said everything already,
        // before anyone listened: its request is read now, or it would wait for ever.
        if (socket->bytesAvailable() > 0)
            handle(socket);
    }
    // Full of connections that asked already: the rest wait in the listen queue instead of
    // using up the program's files. While some have not asked, a new one takes their place.
    const bool anySilent =
        std::any_of(m_silent.cbegin(), m_silent.cend(), [](const QPointer<QTcpSocket>& socket) {
            return socket && !socket->property("answered").toBool();
        });
    if (m_connections >= kMaxConnections && !anySilent)
        m_server->pauseAccepting();
}

void MovieServer::refuse(QTcpSocket* socket, int status, const QByteArray& reason)
{
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                  "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    endAnswer(socket);
}

void MovieServer::handle(QTcpSocket* socket)
{
    if (socket->property("answered").toBool()) {
        socket->skip(socket->bytesAvailable()); // whatever follows the request is dropped
        return;
    }
    const RequestHead request = ParseRequestHead(socket->peek(kMaxRequest + 1), kMaxRequest);
    if (request.status == RequestHead::Incomplete)
        return; // the rest of the request is still coming, within its deadline
    socket->setProperty("answered", true);
    // From now on the deadline is for the reader: it must keep taking the answer.
    auto* deadline = socket->findChild<QTimer*>(QStringLiteral("deadline"));
    deadline->start(kIdleTimeoutMs);
    connect(socket, &QTcpSocket::bytesWritten, deadline,
            [deadline] { deadline->start(kIdleTimeoutMs); });
    socket->skip(socket->bytesAvailable());
    if (request.status == RequestHead::TooLarge)
        return refuse(socket, 431, "Request Header Fields Too Large");
    if (request.status == RequestHead::Bad)
        return refuse(socket, 400, "Bad Request");
    if (request.method != "GET" && request.method != "HEAD")
        return refuse(socket, 405, "Method Not Allowed");
    // A page elsewhere may reach this port under a name of its own (DNS rebinding): only
    // requests that name the server as it is are answered.
    if (!isOwnHost(request.host))
        return refuse(socket, 421, "Misdirected Request");
    const bool headOnly = request.method == "HEAD";
    const QByteArray rawPath = request.target.split('?').first();
    const QString path = QUrl::fromPercentEncoding(rawPath);

    // "/<token>/player.html", "/<token>/ruffle/<file>", "/<token>/movie/<id>/<name>".
    const QStringList parts = path.split(u'/');
    if (parts.size() < 3 || !parts[0].isEmpty() || parts[1] != m_token)
        return refuse(socket, 404, "Not Found");
    if (parts.size() == 3 && parts[2] == u"player.html")
        return serveFile(socket, QStringLiteral(":/player/player.html"), typeOf(parts[2]),
                         headOnly);
    if (parts.size() == 4 && parts[2] == u"ruffle") {
        // Only the files that are in the player's folder itself, by plain name.
        // Its real path must be there too: a link in the folder leads nowhere else.
        const QString name = parts[3];
        const QFileInfo file(QDir(m_playerFiles).filePath(name));
        const QString real = file.canonicalFilePath();
        if (name.isEmpty() || name.startsWith(u'.') || name.contains(u'\\') || !file.isFile() ||
            m_playerFiles.isEmpty() || QFileInfo(real).path() != m_playerFiles)
            return refuse(socket, 404, "Not Found");
        return serveFile(socket, real, typeOf(name), headOnly);
    }
    if (parts.size() < 5 || parts[2] != u"movie" || !m_movies.contains(parts[3]))
        return refuse(socket, 404, "Not Found");
    const QString id = parts[3];
    const Movie& movie = m_movies[id];
    // "site/<scheme>/<host[:port]>/<path>": a load by the address it has on its site, taken
    // apart before decoding so that an encoded slash stays inside its segment.
    const QStringList raw = QString::fromLatin1(rawPath).split(u'/');
    if (parts[4] == u"site" && movie.origin.isValid() && raw.size() >= 8 &&
        (raw[5] == u"http" || raw[5] == u"https")) {
        const qsizetype query = request.target.indexOf('?');
        const QUrl address(
            raw[5] + QStringLiteral("://") + raw[6] + u'/' + raw.mid(7).join(u'/') +
                (query < 0 ? QString() : QString::fromLatin1(request.target.mid(query))),
            QUrl::StrictMode);
        if (!address.isValid())
            return refuse(socket, 404, "Not Found");
        if (sameFile(address, movie.origin))
            return movie.remote
                       ? serveMovie(socket, id, headOnly)
                       : serveFile(socket, movie.file, "application/x-shockwave-flash", headOnly);
        // Beside the movie on its site: the same path in the movie's own folder.
        const QString folder = movie.origin.path(QUrl::FullyDecoded).section(u'/', 0, -2) + u'/';
        QStringList relative;
        if (address.scheme() == movie.origin.scheme() &&
            address.authority() == movie.origin.authority() &&
            address.path(QUrl::FullyDecoded).startsWith(folder))
            relative = parts.mid(7 + folder.count(u'/') - 1);
        return serveLoad(socket, id, address, relative, headOnly);
    }
    if (movie.remote && parts.size() == 5 && parts[4] == movie.name)
        return serveMovie(socket, id, headOnly);
    // A movie of the web whose address gives no place to serve it under: its file alone.
    if (!movie.local && parts.size() == 5 && parts[4] == movie.name)
        return serveFile(socket, movie.file, "application/x-shockwave-flash", headOnly);
    if (movie.local)
        return serveBeside(socket, id, parts.mid(4), headOnly);
    refuse(socket, 404, "Not Found");
}

QString MovieServer::besideFile(const Movie& movie, const QStringList& relative)
{
    // The paths a local movie's relative loads name: no "..", no hidden names, no folder
    // listed, and a link must not lead out of the folder.
    const QString folder = QFileInfo(movie.file).canonicalPath();
    const bool safe = !folder.isEmpty() && !relative.isEmpty() &&
                      std::none_of(relative.cbegin(), relative.cend(), [](const QString& part) {
                          return part.isEmpty() || part.startsWith(u'.') || part.contains(u'\\');
                      });
    const QFileInfo file(QDir(folder).filePath(relative.join(u'/')));
    const QString real = file.canonicalFilePath();
    if (!safe || !file.isFile() || !real.startsWith(folder + u'/'))
        return {};
    return real;
}

void MovieServer::serveBeside(QTcpSocket* socket, const QString& id, const QStringList& relative,
                              bool headOnly)
{
    const auto it = m_movies.constFind(id);
    const QString real =
        it == m_movies.cend() || !it->local ? QString() : besideFile(*it, relative);
    if (real.isEmpty())
        return refuse(socket, 404, "Not Found");
    const bool isMovie = real == QFileInfo(it->file).canonicalFilePath();
    serveFile(socket, real, isMovie ? "application/x-shockwave-flash" : typeOf(real), headOnly);
}

QString MovieServer::keptFileFor(Movie& movie, const QUrl& address) const
{
    const std::optional<QString> path = KeptPathFor(address);
    if (movie.keptRoot.isEmpty() || !path)
        return {};
    // Only what the manifest names is served: a folder found above a movie holds nothing else
    // the player may read.
    if (!movie.keeper && !movie.manifest)
        movie.manifest = ReadManifest(movie.keptRoot);
    const KeptManifest& manifest = movie.keeper ? movie.keeper->manifest() : *movie.manifest;
    if (!manifest.byPath(*path))
        return {};
    return keptFileInside(movie.keptRoot, *path);
}

QString MovieServer::keptFileInside(const QString& keptRoot, const QString& path)
{
    // A link planted in the layout must not lead the player out of it.
    const QString root = QFileInfo(keptRoot).canonicalFilePath();
    const QFileInfo file(QDir(root).filePath(path));
    const QString real = file.canonicalFilePath();
    return !root.isEmpty() && file.isFile() && real.startsWith(root + u'/') ? real : QString();
}

FileKeeper* MovieServer::keeperOf(const QString& id)
{
    Movie& movie = m_movies[id];
    if (movie.keeper)
        return movie.keeper;
    if (movie.keptRoot.isEmpty())
        movie.keptRoot = QDir(fetchedFolder()).filePath(id + QStringLiteral(".files"));
    movie.keeper = new FileKeeper(movie.keptRoot, movie.origin, this);
    movie.keeper->setArchive(m_archive);
    if (!movie.remote) {
        const QString address = movie.origin.toString();
        FileKeeper* keeper = movie.keeper;
        connect(keeper, &FileKeeper::fileKept, this, [this, address, keeper] {
            emit filesKept(address, static_cast<int>(keeper->manifest().files.size()));
        });
    }
    return movie.keeper;
}

void MovieServer::serveLoad(QTcpSocket* socket, const QString& id, const QUrl& address,
                            const QStringList& relative, bool headOnly)
{
    emit loadAsked(address);
    Movie& movie = m_movies[id];
    // Only a movie known by its file alone reads the files beside it: one of the web would
    // carry them to its site.
    QString file = movie.local ? besideFile(movie, relative) : QString();
    if (file.isEmpty())
        file = keptFileFor(movie, address);
    if (!file.isEmpty())
        return serveFile(socket, file, typeOf(file), headOnly);
    if (!movie.capture)
        return refuse(socket, 404, "Not Found");
    const QPointer<QTcpSocket> waiting(socket);
    FileKeeper* keeper = keeperOf(id);
    keeper->keep(address, [this, waiting, keeper, headOnly](const KeptFile* kept, const QString&) {
        if (!waiting || waiting->state() != QAbstractSocket::ConnectedState)
            return;
        if (!kept)
            return refuse(waiting, 404, "Not Found");
        const QString path = keptFileInside(keeper->folder(), kept->path);
        if (path.isEmpty())
            return refuse(waiting, 404, "Not Found");
        serveFile(waiting, path, typeOf(path), headOnly);
    });
}

void MovieServer::serveMovie(QTcpSocket* socket, const QString& id, bool headOnly)
{
    const auto it = m_movies.find(id);
    if (it == m_movies.end() || it->failed)
        return refuse(socket, 404, "Not Found");
    if (it->remote && it->file.isEmpty()) {
        it->waiting << socket;
        socket->setProperty("headOnly", headOnly);
        if (!it->fetching)
            fetch(id);
        return;
    }
    serveFile(socket, it->file, "application/x-shockwave-flash", headOnly);
}

QString MovieServer::unpackedBundle(const QString& source)
{
    if (const auto unpacked = m_bundles.constFind(source); unpacked != m_bundles.cend())
        return *unpacked;
    if (!IsRuffleBundle(source))
        return source;
    QString error;
    const QString folder =
        QDir(fetchedFolder()).filePath(QStringLiteral("bundle-%1").arg(m_bundles.size() + 1));
    const QString movie = UnpackRuffleBundle(source, folder, &error);
    if (movie.isEmpty())
        qWarning("Clip Vault: the bundle %s cannot be played: %s", qPrintable(source),
                 qPrintable(error));
    m_bundles.insert(source, movie);
    return movie;
}

QString MovieServer::fetchedFolder()
{
    if (!m_fetched) {
        // In the user's cache folder, not in a /tmp that may be memory; gone with the server.
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        QDir().mkpath(cache);
        m_fetched = std::make_unique<PreviewFolder>(cache);
    }
    return m_fetched->path();
}

void MovieServer::fetch(const QString& id)
{
    const QString folder = fetchedFolder();
    Movie& movie = m_movies[id];
    movie.fetching = true;
    auto* get = new THTTPGet(this);
    get->BinaryData = false;
    get->UseCache = true;
    // A preview's address may stream for ever: it is bounded in size and time.
    get->MaxSize = m_previewBytes;
    get->TimeLimit = m_previewSeconds;
    get->URL = movie.source;
    get->FileName = QDir(folder).filePath(id + QStringLiteral(".swf"));
    connect(get, &THTTPGet::OnDoneFile, this,
            [this, id](const QString& file) { m_movies[id].file = file; });
    connect(get, &THTTPGet::idle, this, [this, id, get] {
        get->deleteLater();
        Movie& done = m_movies[id];
        done.fetching = false;
        done.failed = done.file.isEmpty();
        const QList<QTcpSocket*> waiting = std::exchange(done.waiting, {});
        for (QTcpSocket* socket : waiting) {
            if (socket->state() != QAbstractSocket::ConnectedState)
                continue;
            if (done.failed)
                refuse(socket, 502, "Bad Gateway");
            else
                serveFile(socket, done.file, "application/x-shockwave-flash",
                          socket->property("headOnly").toBool());
        }
    });
    get->StartTransfer();
}

void MovieServer::serveFile(QTcpSocket* socket, const QString& path, const QByteArray& type,
                            bool headOnly)
{
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return refuse(socket, 404, "Not Found");
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + type +
                  "\r\nContent-Length: " + QByteArray::number(file->size()) +
                  "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: "
                  "close\r\n\r\n");
    if (headOnly) {
        endAnswer(socket);
        return;
    }
    // Streamed as the socket drains, so a large movie never sits in memory whole.
    auto pump = [socket, file] {
        while (socket->bytesToWrite() < kChunk) {
            const QByteArray chunk = file->read(kChunk);
            if (chunk.isEmpty()) {
                endAnswer(socket);
                return;
            }
            socket->write(chunk);
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, pump);
    pump();
}
