#include "filetransfer.h"

#include "curltransfer.h"
#include "sha256.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QList>
#include <QFile>
#include <QRandomGenerator>
#include <QUrl>

namespace {

constexpr long kBufferSize = 128 * 1024;

QString systemError(const QString& what, const QString& path)
{
    return QStringLiteral("%1 %2: %3")
        .arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

QByteArray TransferUrl(const QString& url)
{
    QString trimmed = url.trimmed();
    if (!trimmed.contains(QStringLiteral("://")))
        trimmed.prepend(QStringLiteral("http://"));
    // Tolerant parsing keeps valid escapes as they are and encodes what a URL may not hold.
    const QUrl parsed(trimmed, QUrl::TolerantMode);
    if (!parsed.isValid())
        return trimmed.toUtf8(); // libcurl reports what is wrong with it
    return parsed.toEncoded(QUrl::FullyEncoded);
}

bool BeginsAsFlashMovie(QByteArrayView head)
{
    return head.size() >= 3 && (head[0] == 'F' || head[0] == 'C' || head[0] == 'Z') &&
           head[1] == 'W' && head[2] == 'S';
}

namespace {

/// The state of one running transfer, reached from libcurl's callbacks.
struct Transfer
{
    Transfer(const DownloadRequest& request, TransferWatcher& watcher)
        : settings(request)
        , watcher(watcher)
    {
    }

    const DownloadRequest& settings;
    TransferWatcher& watcher;
    CURL* curl = nullptr;
    QString partPath;
    int fd = -1;
    bool responseChecked = false;
    QByteArray head;         ///< the body's first bytes, while fewer than three arrived
    QList<qint64> lengths;   ///< the Content-Length values of the response being read
    bool encoded = false;    ///< the response has a Content-Encoding, which libcurl decodes
    QElapsedTimer sinceByte; ///< since the last body byte arrived
    qint64 announced = -1;   ///< Content-Length of the final response, -1 when unknown
    qint64 written = 0;
    QString error;
    bool gone = false; ///< the address no longer gives the file (see TransferOutcome)
    /// The body's digest, taken on this thread as it is written, when the request asks.
    std::unique_ptr<Sha256> hash;
    QElapsedTimer sinceProgress;

    /// Creates the partial file new and exclusively, under a name no other transfer holds: a
    /// file or link planted under a predictable name is never followed, truncated or removed.
    bool openFile(const QString& target)
    {
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            partPath = QStringLiteral("%1.%2.part")
                           .arg(target)
                           .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
            fd = ::open(QFile::encodeName(partPath).constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        if (fd < 0) {
            error = systemError(QStringLiteral("cannot create"), partPath);
            partPath.clear(); // not ours: never removed
        }
        return fd >= 0;
    }

    /// The first body bytes (or the end of a body-less answer) decide whether it is wanted.
    bool checkResponse()
    {
        responseChecked = true;
        const long status = TransferStatus(curl);
        if (status < 200 || status > 299) {
            error = QStringLiteral("the server answered with status %1").arg(status);
            gone = status == 404 || status == 410;
            return false;
        }
        // libcurl takes the last of several Content-Length headers; two sizes are a reply no
        // one can trust.
        if (std::any_of(lengths.begin(), lengths.end(),
                        [&](qint64 length) { return length != lengths.first(); })) {
            error = QStringLiteral("the server announced two different sizes");
            return false;
        }
        // A size that is no number or too large to hold leaves nothing to check the body
        // against: a body cut short would pass as whole.
        if (!lengths.isEmpty() && lengths.first() < 0) {
            error = QStringLiteral("the server announced a size that cannot be right");
            return false;
        }
        if (lengths.isEmpty() && settings.binaryData) {
            error = QStringLiteral("the server did not announce the size of the file");
            return false;
        }
        // An encoded body's length is not the file's: libcurl checks it, the file size is
        // known at the end.
        announced = lengths.isEmpty() || encoded ? -1 : lengths.first();
        return openFile(settings.fileName);
    }

    /// A body that must be a Flash movie is judged by its first three bytes.
    bool checkHead(const char* data, std::size_t size)
    {
        if (!settings.flashMovieOnly || head.size() >= 3)
            return true;
        head.append(data, static_cast<qsizetype>(std::min<std::size_t>(size, 3 - head.size())));
        if (head.size() < 3 || BeginsAsFlashMovie(head))
            return true;
        error = QStringLiteral("not a Flash movie");
        gone = true;
        return false;
    }

    bool append(const char* data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = systemError(QStringLiteral("cannot write"), partPath);
                return false;
            }
            if (hash)
                hash->addData(QByteArrayView(data, n));
            data += n;
            size -= static_cast<std::size_t>(n);
            written += n;
        }
        return true;
    }

    void closeFile()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    /// Takes body bytes from libcurl; false ends the transfer as failed.
    bool receive(const char* data, std::size_t size)
    {
        if (watcher.cancelled())
            return false;
        if (!responseChecked && !checkResponse())
            return false;
        sinceByte.restart();
        if (settings.maxSize >= 0 && written + static_cast<qint64>(size) > settings.maxSize) {
            error = QStringLiteral("the file is larger than %1 MiB").arg(settings.maxSize >> 20);
            return false;
        }
        if (!checkHead(data, size) || !append(data, size))
            return false;
        if (sinceProgress.elapsed() >= TransferWatcher::kProgressIntervalMs) {
            sinceProgress.restart();
            watcher.progress(std::max<qint64>(announced, 0), written);
            return !watcher.cancelled();
        }
        return true;
    }
};

/// Keeps what the body checks need from the headers of the last response (a redirect's own
/// headers are forgotten at the next status line).
size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(size * count)).trimmed();
    const qsizetype colon = line.indexOf(':');
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (line.startsWith("HTTP/")) {
        transfer->lengths.clear();
        transfer->encoded = false;
    } else if (colon > 0 && name == "content-length") {
        bool ok = false;
        const qint64 length = value.toLongLong(&ok);
        transfer->lengths.append(ok && length >= 0 ? length : -1);
    } else if (colon > 0 && name == "content-encoding" && value.toLower() != "identity") {
        transfer->encoded = true;
    }
    return size * count;
}

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    return transfer->receive(data, size * count) ? size * count : 0;
}

int onTick(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* transfer = static_cast<Transfer*>(user);
    return transfer->watcher.cancelled() ? 1 : 0;
}

bool perform(Transfer& transfer)
{
    CURL* curl = curl_easy_init();
    if (!curl) {
        transfer.error = QStringLiteral("the network library could not start");
        return false;
    }
    transfer.curl = curl;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    const QByteArray url = TransferUrl(transfer.settings.url);
    const QByteArray agent = transfer.settings.agent.toUtf8();
    const QByteArray referer = transfer.settings.referer.toUtf8();
    const QByteArray userName = transfer.settings.userName.toUtf8();
    const QByteArray password = transfer.settings.password.toUtf8();
    const QByteArray caCertificates = QFile::encodeName(transfer.settings.caCertificates);

    curl_slist* headers = nullptr;
    const QByteArray accept = "Accept: " + transfer.settings.acceptTypes.toUtf8();
    headers = curl_slist_append(headers, accept.constData());
    if (!transfer.settings.useCache) {
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
    }

    SetTransferBasics(curl, url.constData(), errorBuffer,
                      static_cast<long>(transfer.settings.stallTimeout));
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kBufferSize);
    if (transfer.settings.timeLimit > 0)
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(transfer.settings.timeLimit));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (!agent.isEmpty())
        curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.constData());
    if (!referer.isEmpty())
        curl_easy_setopt(curl, CURLOPT_REFERER, referer.constData());
    if (!userName.isEmpty() || !password.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, userName.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    }
    if (!transfer.settings.postQuery.isEmpty()) {
        const QByteArray body = transfer.settings.postQuery.toUtf8();
        headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, body.constData());
    }
    if (!caCertificates.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caCertificates.constData());
    // Ask for the body as it is, and decode one the server compressed all the same.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "identity");
    SetTransferCallbacks(curl, onHeader, onBody, onTick, &transfer);

    const CURLcode result = curl_easy_perform(curl);
    bool succeeded = result == CURLE_OK;
    if (succeeded && !transfer.responseChecked)
        succeeded = transfer.checkResponse(); // an empty body: still a file, if the answer is good
    if (succeeded && transfer.settings.flashMovieOnly && !BeginsAsFlashMovie(transfer.head)) {
        transfer.error = QStringLiteral("not a Flash movie");
        transfer.gone = true;
        succeeded = false;
    }
    // A host that is no more, or that refuses: the address no longer gives the file. A time-out
    // or a server error may pass.
    if (result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_CONNECT)
        transfer.gone = true;
    if (succeeded && transfer.announced >= 0 && transfer.written != transfer.announced) {
        transfer.error = QStringLiteral("the body had %1 of %2 bytes")
                             .arg(transfer.written)
                             .arg(transfer.announced);
        succeeded = false;
    }
    if (!succeeded && transfer.error.isEmpty()) {
        const bool tooSlow =
            result == CURLE_OPERATION_TIMEDOUT && std::strstr(errorBuffer, "Operation too slow");
        // libcurl gives up when the rate stayed under a byte a second for the whole time-out:
        // a server that went quiet, or one that drips. Its clock and ours differ by a moment.
        const qint64 quietMs = transfer.settings.stallTimeout * qint64(1000) - 250;
        if (tooSlow && (!transfer.sinceByte.isValid() || transfer.sinceByte.elapsed() >= quietMs))
            transfer.error = QStringLiteral("no data arrived for %1 seconds")
                                 .arg(transfer.settings.stallTimeout);
        else if (tooSlow)
            transfer.error =
                QStringLiteral("the server sent less than a byte a second for %1 seconds")
                    .arg(transfer.settings.stallTimeout);
        else if (result == CURLE_OPERATION_TIMEDOUT && transfer.settings.timeLimit > 0)
            transfer.error = QStringLiteral("the transfer took longer than %1 seconds")
                                 .arg(transfer.settings.timeLimit);
        else
            transfer.error =
                QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(result));
    }
    if (transfer.watcher.cancelled())
        transfer.error = QStringLiteral("the transfer was cancelled");

    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return succeeded;
}

} // namespace

TransferOutcome TransferToFile(const DownloadRequest& request, TransferWatcher& watcher)
{
    InitCurlOnce();
    Transfer transfer(request, watcher);
    if (request.sha256)
        transfer.hash = std::make_unique<Sha256>();
    transfer.sinceProgress.start();

    TransferOutcome outcome;
    const bool succeeded = perform(transfer);
    transfer.closeFile();
    if (succeeded && !watcher.cancelled()) {
        if (std::rename(QFile::encodeName(transfer.partPath).constData(),
                        QFile::encodeName(request.fileName).constData()) == 0) {
            outcome.succeeded = true;
            outcome.fileSize = transfer.written;
            if (transfer.hash)
                outcome.sha256 = transfer.hash->hexResult();
            watcher.progress(std::max<qint64>(transfer.announced, 0), transfer.written);
            return outcome;
        }
        transfer.error = systemError(QStringLiteral("cannot replace"), request.fileName);
    }
    if (!transfer.partPath.isEmpty())
        QFile::remove(transfer.partPath);
    outcome.error = transfer.error;
    outcome.addressGone = transfer.gone && !watcher.cancelled();
    return outcome;
}
