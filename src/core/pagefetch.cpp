#include "pagefetch.h"

#include "curltransfer.h"
#include "filetransfer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr long kStallSeconds = 60;

struct Fetch
{
    const std::atomic<bool>* cancelled = nullptr;
    QByteArray body;
    bool cut = false;  ///< the body reached kMaxPageBody and its transfer was ended
    QByteArray reason; ///< the reason phrase of the last status line
    QByteArray contentType;
};

size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* fetch = static_cast<Fetch*>(user);
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(size * count)).trimmed();
    if (line.startsWith("HTTP/")) {
        // "HTTP/1.1 404 Not Found": the phrase is what follows the code.
        const qsizetype code = line.indexOf(' ');
        const qsizetype phrase = code < 0 ? -1 : line.indexOf(' ', code + 1);
        fetch->reason = phrase < 0 ? QByteArray() : line.mid(phrase + 1).trimmed();
        fetch->contentType.clear();
    } else if (line.size() > 13 && line.left(13).toLower() == "content-type:") {
        fetch->contentType = line.mid(13).trimmed().left(256);
    }
    return size * count;
}

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* fetch = static_cast<Fetch*>(user);
    const qsizetype room = kMaxPageBody - fetch->body.size();
    const auto length = static_cast<qsizetype>(size * count);
    fetch->body.append(data, std::min(room, length));
    if (length <= room)
        return size * count;
    // The rest is never read: a page that announces 100 GB or never ends is cut here.
    fetch->cut = true;
    return 0;
}

int onTick(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Fetch*>(user)->cancelled->load() ? 1 : 0;
}

} // namespace

PageReply FetchPage(const QString& url, const std::atomic<bool>& cancelled, int deadlineMs)
{
    InitCurlOnce();
    PageReply reply;
    // One handle per thread, reset for each page: its caches (names, sessions) carry over from
    // page to page of a detection.
    struct Handle
    {
        CURL* curl = curl_easy_init();
        ~Handle() { curl_easy_cleanup(curl); }
    };
    thread_local Handle handle;
    CURL* curl = handle.curl;
    if (curl)
        curl_easy_reset(curl);
    if (!curl) {
        reply.error = QStringLiteral("the network library could not start");
        return reply;
    }
    Fetch fetch;
    fetch.cancelled = &cancelled;
    const QByteArray address = TransferUrl(url);
    const QByteArray accept = QByteArray("Accept: ") + kDetectAccept;
    curl_slist* headers = curl_slist_append(nullptr, accept.constData());
    char errorBuffer[CURL_ERROR_SIZE] = {};
    SetTransferBasics(curl, address.constData(), errorBuffer, kStallSeconds);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kDetectAgent);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    SetTransferCallbacks(curl, onHeader, onBody, onTick, &fetch);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max(deadlineMs, 1)));

    const CURLcode result = curl_easy_perform(curl);
    const long status = TransferStatus(curl);
    reply.finalUrl = TransferEndAddress(curl, url);
    long osError = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);

    if (cancelled) {
        reply.error = QStringLiteral("the detection was cancelled");
    } else if (fetch.cut || result == CURLE_OK) {
        if (status >= 400) {
            reply.error = fetch.reason.isEmpty() ? QStringLiteral("status %1").arg(status)
                                                 : QString::fromLatin1(fetch.reason);
            reply.gone = status == 404 || status == 410;
        } else {
            reply.ok = true;
            reply.body = std::move(fetch.body);
            reply.contentType = fetch.contentType;
        }
    } else if (result == CURLE_OPERATION_TIMEDOUT) {
        reply.error = QStringLiteral("the page did not arrive within %1 seconds")
                          .arg((deadlineMs + 999) / 1000);
    } else if (result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_RESOLVE_PROXY) {
        reply.error = QStringLiteral("can't resolve hostname to IP address");
        reply.gone = result == CURLE_COULDNT_RESOLVE_HOST;
    } else if (result == CURLE_COULDNT_CONNECT) {
        reply.error = QStringLiteral("can't connect: %1 (Error #%2)")
                          .arg(QString::fromLocal8Bit(std::strerror(static_cast<int>(osError))))
                          .arg(osError);
        reply.gone = true;
    } else {
        reply.error = QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(result));
    }
    curl_slist_free_all(headers);
    return reply;
}
