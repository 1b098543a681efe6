#include "fetch.h"

#include "addresspolicy.h"
#include "curlbasics.h"
#include "replacingfile.h"
#include "plaintext.h"
#include "sha256.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>
#include <vector>

namespace transfer {

namespace {

constexpr long kBufferSize = 128 * 1024;

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

/// A Content-Length value: its number, or -1 for one that is none or too large to hold.
long long lengthOf(std::string_view value)
{
    if (!value.empty() && value.front() == '+')
        value.remove_prefix(1);
    long long length = -1;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
    return error == std::errc() && end == value.data() + value.size() && length >= 0 ? length : -1;
}

/// "HTTP/1.1 404 Not Found": the phrase is what follows the code.
std::string reasonPhrase(std::string_view statusLine)
{
    const std::size_t code = statusLine.find(' ');
    const std::size_t phrase =
        code == std::string_view::npos ? code : statusLine.find(' ', code + 1);
    return phrase == std::string_view::npos ? std::string()
                                            : std::string(Trimmed(statusLine.substr(phrase + 1)));
}

/// The state of one running request, reached from libcurl's callbacks.
struct Transfer
{
    Transfer(const Request& request, Watcher& watcher)
        : settings(request)
        , watcher(watcher)
    {
        if (request.sha256)
            hash = std::make_unique<Sha256>();
    }

    const Request& settings;
    Watcher& watcher;
    CURL* curl = nullptr;
    Outcome outcome;
    /// The body's file, renamed into place once whole.
    std::optional<ReplacingWriter> file;
    bool responseChecked = false;
    std::string head;               ///< the body's first bytes, while fewer than three arrived
    std::vector<long long> lengths; ///< the Content-Length values of the response being read
    bool encoded = false;           ///< the response has a Content-Encoding, which libcurl decodes
    std::optional<Clock::time_point> lastByte; ///< when the last body byte arrived
    long long announced = -1; ///< Content-Length of the final response, -1 when unknown
    long long roomTaken = 0;  ///< of the shared room, given back when the transfer fails
    /// The body's digest, taken on this thread as it is written, when the request asks.
    std::unique_ptr<Sha256> hash;
    Clock::time_point lastProgress = Clock::now();

    bool toFile() const { return !settings.fileName.empty(); }

    bool fail(std::string why, Failure failure = Failure::Other, bool gone = false)
    {
        outcome.error = std::move(why);
        outcome.failure = failure;
        outcome.addressGone = gone;
        return false;
    }

    /// The first body bytes (or the end of a body-less answer) decide whether it is wanted.
    bool checkResponse()
    {
        responseChecked = true;
        const long status = TransferStatus(curl);
        if (!settings.anyStatus && (status < 200 || status > 299))
            return fail("the server answered with status " + std::to_string(status),
                        Failure::Status, status == 404 || status == 410);
        // libcurl takes the last of several Content-Length headers; two sizes are a reply no
        // one can trust.
        if (std::any_of(lengths.begin(), lengths.end(),
                        [&](long long length) { return length != lengths.front(); }))
            return fail("the server announced two different sizes");
        // A size that is no number or too large to hold leaves nothing to check the body
        // against: a body cut short would pass as whole.
        if (!lengths.empty() && lengths.front() < 0)
            return fail("the server announced a size that cannot be right");
        if (lengths.empty() && settings.binaryData)
            return fail("the server did not announce the size of the file");
        // An encoded body's length is not the file's: libcurl checks it, the file size is
        // known at the end.
        announced = lengths.empty() || encoded ? -1 : lengths.front();
        if (toFile()) {
            if (settings.folder.empty())
                file.emplace(settings.fileName);
            else if (settings.fileName.compare(0, settings.folder.size() + 1,
                                               settings.folder + '/') == 0)
                file.emplace(settings.folder, settings.fileName.substr(settings.folder.size() + 1));
            else
                return fail("the file " + settings.fileName + " is not in " + settings.folder);
            // Made now, so that a file that cannot be made fails before the body is read.
            return file->write({}, &outcome.error);
        }
        return true;
    }

    /// A body that must be a Flash movie is judged by its first three bytes.
    bool checkHead(std::string_view bytes)
    {
        if (!settings.flashMovieOnly || head.size() >= 3)
            return true;
        head.append(bytes.substr(0, 3 - head.size()));
        if (head.size() < 3 || BeginsAsFlashMovie(head))
            return true;
        return fail("not a Flash movie", Failure::Other, true);
    }

    bool append(std::string_view bytes)
    {
        if (toFile() && !file->write(bytes, &outcome.error))
            return fail(outcome.error);
        if (!toFile())
            outcome.body.append(bytes);
        if (hash)
            hash->addData(bytes);
        outcome.size += static_cast<long long>(bytes.size());
        return true;
    }

    /// Takes `bytes` of the room shared with other transfers, or none when fewer are left: the
    /// others never see the room smaller than it is.
    bool takeRoom(long long bytes)
    {
        long long left = settings.sharedRoom->load();
        do {
            if (left < bytes)
                return false;
        } while (!settings.sharedRoom->compare_exchange_weak(left, left - bytes));
        roomTaken += bytes;
        return true;
    }

    /// A body past the most asked for: cut there where that is wanted, else failed.
    bool overflow(std::string_view bytes)
    {
        if (!settings.cutAtMaxSize)
            return fail("the file is larger than " + std::to_string(settings.maxSize >> 20) +
                        " MiB");
        // The rest is never read: a page that announces 100 GB or never ends is cut here.
        append(bytes.substr(0, static_cast<std::size_t>(settings.maxSize - outcome.size)));
        outcome.cut = true;
        return false;
    }

    /// Takes body bytes from libcurl; false ends the transfer.
    bool receive(std::string_view bytes)
    {
        if (watcher.cancelled())
            return false;
        if (!responseChecked && !checkResponse())
            return false;
        lastByte = Clock::now();
        const auto size = static_cast<long long>(bytes.size());
        if (settings.maxSize >= 0 && outcome.size + size > settings.maxSize)
            return overflow(bytes);
        if (settings.sharedRoom && !takeRoom(size))
            return fail("the room left for these files ran out");
        if (!checkHead(bytes) || !append(bytes))
            return false;
        if (millisecondsSince(lastProgress) >= Watcher::kProgressIntervalMs) {
            lastProgress = Clock::now();
            watcher.progress(std::max<long long>(announced, 0), outcome.size);
            return !watcher.cancelled();
        }
        return true;
    }

    /// Keeps what the checks need from the headers of the last response (a redirect's own
    /// headers are forgotten at the next status line).
    void header(std::string_view line)
    {
        line = Trimmed(line);
        const std::size_t colon = line.find(':');
        const bool named = colon != std::string_view::npos && colon > 0;
        const std::string name = named ? AsciiLower(Trimmed(line.substr(0, colon))) : std::string();
        const std::string_view value = named ? Trimmed(line.substr(colon + 1)) : std::string_view();
        if (line.starts_with("HTTP/")) {
            lengths.clear();
            encoded = false;
            outcome.reason = reasonPhrase(line);
            outcome.contentType.clear();
            outcome.retryAfter.clear();
        } else if (name == "content-length") {
            lengths.push_back(lengthOf(value));
        } else if (name == "content-encoding" && AsciiLower(value) != "identity") {
            encoded = true;
        } else if (name == "content-type") {
            outcome.contentType = value.substr(0, 256);
        } else if (name == "retry-after") {
            outcome.retryAfter = value.substr(0, 64);
        }
    }
};

size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    static_cast<Transfer*>(user)->header(std::string_view(data, size * count));
    return size * count;
}

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    return transfer->receive(std::string_view(data, size * count)) ? size * count : 0;
}

int onTick(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer*>(user)->watcher.cancelled() ? 1 : 0;
}

/// Why a transfer libcurl ended with `result` failed, in the user's words.
void explainFailure(Transfer& transfer, CURLcode result, const char* errorBuffer)
{
    const Request& settings = transfer.settings;
    const bool tooSlow =
        result == CURLE_OPERATION_TIMEDOUT && std::strstr(errorBuffer, "Operation too slow");
    // libcurl gives up when the rate stayed under a byte a second for the whole time-out: a
    // server that went quiet, or one that drips. Its clock and ours differ by a moment.
    const long long quietMs = settings.stallTimeout * 1000LL - 250;
    const std::string seconds = std::to_string(settings.stallTimeout);
    if (tooSlow && (!transfer.lastByte || millisecondsSince(*transfer.lastByte) >= quietMs))
        transfer.fail("no data arrived for " + seconds + " seconds");
    else if (tooSlow)
        transfer.fail("the server sent less than a byte a second for " + seconds + " seconds");
    else if (result == CURLE_OPERATION_TIMEDOUT && settings.timeLimitMs > 0)
        transfer.fail("the transfer took longer than " +
                          std::to_string((settings.timeLimitMs + 999) / 1000) + " seconds",
                      Failure::TimedOut);
    else if (result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_RESOLVE_PROXY)
        // A host that is no more: the address no longer gives the file. A proxy may come back.
        transfer.fail(errorBuffer, Failure::NoHost, result == CURLE_COULDNT_RESOLVE_HOST);
    else if (result == CURLE_COULDNT_CONNECT)
        transfer.fail(errorBuffer, Failure::Refused, true);
    else
        transfer.fail(errorBuffer[0] ? errorBuffer : curl_easy_strerror(result));
    if (transfer.outcome.error.empty())
        transfer.outcome.error = curl_easy_strerror(result);
}

/// The headers every request sends, and those its settings add.
curl_slist* requestHeaders(const Request& settings, bool keepConnection)
{
    curl_slist* headers = nullptr;
    const std::string accept = "Accept: " + settings.acceptTypes;
    headers = curl_slist_append(headers, accept.c_str());
    if (!settings.useCache) {
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
    }
    if (keepConnection)
        headers = curl_slist_append(headers, "Connection: Keep-Alive");
    if (!settings.postQuery.empty())
        headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
    return headers;
}

void setRequestOptions(CURL* curl, const Request& settings, curl_slist* headers)
{
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kBufferSize);
    if (settings.timeLimitMs > 0)
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(settings.timeLimitMs));
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, settings.followRedirects ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (!settings.agent.empty())
        curl_easy_setopt(curl, CURLOPT_USERAGENT, settings.agent.c_str());
    if (!settings.referer.empty())
        curl_easy_setopt(curl, CURLOPT_REFERER, settings.referer.c_str());
    if (!settings.userName.empty() || !settings.password.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, settings.userName.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, settings.password.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    }
    if (!settings.postQuery.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(settings.postQuery.size()));
        curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, settings.postQuery.c_str());
    }
    if (!settings.caCertificates.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, settings.caCertificates.c_str());
    // Ask for the body as it is, and decode one the server compressed all the same.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, settings.compressed ? "" : "identity");
}

/// What the answer said beyond its body: where it ended and where it would lead.
void readAnswer(CURL* curl, Outcome& outcome, const Request& settings)
{
    outcome.status = TransferStatus(curl);
    const char* address = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &address);
    outcome.finalUrl = address ? address : settings.url;
    const char* redirect = nullptr;
    if (!settings.followRedirects && outcome.status >= 300 && outcome.status < 400 &&
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &redirect) == CURLE_OK && redirect)
        outcome.redirect = redirect;
    long osError = 0;
    curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
    outcome.systemError = static_cast<int>(osError);
}

/// Whether what arrived is whole and wanted, once libcurl ended with `result`.
bool judge(Transfer& transfer, CURLcode result, const PublicOnly& publicOnly,
           const char* errorBuffer)
{
    const Request& settings = transfer.settings;
    bool succeeded = result == CURLE_OK || transfer.outcome.cut;
    if (succeeded && !transfer.responseChecked)
        succeeded = transfer.checkResponse(); // an empty body: still a file, if the answer is good
    if (succeeded && settings.flashMovieOnly && !BeginsAsFlashMovie(transfer.head))
        succeeded = transfer.fail("not a Flash movie", Failure::Other, true);
    if (succeeded && !transfer.outcome.cut && transfer.announced >= 0 &&
        transfer.outcome.size != transfer.announced)
        succeeded = transfer.fail("the body had " + std::to_string(transfer.outcome.size) + " of " +
                                  std::to_string(transfer.announced) + " bytes");
    if (!publicOnly.refusal.empty())
        succeeded = transfer.fail(publicOnly.refusal);
    if (!succeeded && transfer.outcome.error.empty())
        explainFailure(transfer, result, errorBuffer);
    if (transfer.watcher.cancelled())
        succeeded = transfer.fail("the transfer was cancelled", Failure::Cancelled);
    return succeeded;
}

bool perform(Transfer& transfer, CURL* curl, bool keepConnection)
{
    transfer.curl = curl;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const Request& settings = transfer.settings;
    curl_slist* headers = requestHeaders(settings, keepConnection);
    SetTransferBasics(curl, settings.url.c_str(), errorBuffer,
                      static_cast<long>(settings.stallTimeout));
    setRequestOptions(curl, settings, headers);
    PublicOnly publicOnly;
    if (settings.publicOnly) {
        publicOnly.allowedOrigin = settings.allowedOrigin;
        RestrictToPublicAddresses(curl, publicOnly);
    }
    SetTransferCallbacks(curl, onHeader, onBody, onTick, &transfer);

    const CURLcode result = curl_easy_perform(curl);
    readAnswer(curl, transfer.outcome, settings);
    const bool succeeded = judge(transfer, result, publicOnly, errorBuffer);
    curl_slist_free_all(headers);
    return succeeded;
}

/// Puts a finished file in place, or takes what was written of it away.
void finishFile(Transfer& transfer, bool succeeded)
{
    if (succeeded && transfer.file && !transfer.file->commit(&transfer.outcome.error))
        transfer.fail(transfer.outcome.error);
    transfer.file.reset();
}

} // namespace

Connections::~Connections()
{
    if (m_curl)
        curl_easy_cleanup(m_curl);
}

CURL* Connections::handle()
{
    // A reset handle keeps its open connections and its name and session caches.
    if (m_curl)
        curl_easy_reset(m_curl);
    else
        m_curl = curl_easy_init();
    return m_curl;
}

Outcome Fetch(const Request& request, Watcher& watcher, Connections* kept)
{
    InitCurlOnce();
    Connections own;
    CURL* curl = (kept ? kept : &own)->handle();
    Transfer transfer(request, watcher);
    bool succeeded = curl ? perform(transfer, curl, kept != nullptr)
                          : transfer.fail("the network library could not start");
    if (transfer.toFile()) {
        finishFile(transfer, succeeded);
        succeeded = succeeded && transfer.outcome.error.empty();
    }
    Outcome& outcome = transfer.outcome;
    outcome.succeeded = succeeded;
    if (succeeded) {
        if (transfer.hash)
            outcome.sha256 = transfer.hash->hexResult();
        watcher.progress(std::max<long long>(transfer.announced, 0), outcome.size);
        return std::move(outcome);
    }
    if (request.sharedRoom)
        request.sharedRoom->fetch_add(transfer.roomTaken);
    outcome.addressGone = outcome.addressGone && outcome.failure != Failure::Cancelled;
    return std::move(outcome);
}

bool BeginsAsFlashMovie(std::string_view head)
{
    return head.size() >= 3 && (head[0] == 'F' || head[0] == 'C' || head[0] == 'Z') &&
           head[1] == 'W' && head[2] == 'S';
}

} // namespace transfer
