#include "filedownload.h"

#include "addresspolicy.h"
#include "curlbasics.h"
#include "partialfiles.h"
#include "plaintext.h"
#include "sha256.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/random.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace transfer {

namespace {

constexpr long kBufferSize = 128 * 1024;

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

/// A number no one can foresee, from the system's source (no device to open each time).
unsigned randomNumber()
{
    unsigned number = 0;
    while (::getrandom(&number, sizeof number, 0) < 0 && errno == EINTR) {
    }
    return number;
}

/// What failed, on which file, and the system's reason, as the last call left it in errno.
std::string systemError(std::string_view what, const std::string& path)
{
    const char* reason = std::strerror(errno);
    return std::string(what) + ' ' + path + ": " + reason;
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

/// Writes all of `data`, again after an interruption; `wrote` hears each piece written. False
/// when the file takes no more (the reason in errno).
template <typename Wrote>
bool writeAll(int fd, const char* data, std::size_t size, Wrote&& wrote)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        wrote(data, static_cast<std::size_t>(n));
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

/// Creates the partial file of `target` new and exclusively, under a name no one else holds: a
/// file or link planted under a predictable name is never followed, truncated or removed.
/// Returns its descriptor, or -1 with `error` set (and `partPath` empty: nothing of ours).
int createPartialFile(const std::string& target, std::string& partPath,
                      std::optional<PartialFile>& known, std::string& error)
{
    // A name near the file system's limit leaves no room for the suffix: the partial file takes
    // the name's beginning (it is renamed to the whole name at the end).
    constexpr std::size_t kSuffixLength = 14; // ".%08x.part"
    const std::size_t nameStart = target.rfind('/') + 1;
    const std::string stem = target.size() - nameStart + kSuffixLength > NAME_MAX
                                 ? target.substr(0, nameStart + NAME_MAX - kSuffixLength)
                                 : target;
    int fd = -1;
    const std::unique_lock<std::mutex> creating = LockPartialFileCreation();
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.part", randomNumber());
        partPath = stem + suffix;
        // Known to the termination handler before it exists: a signal between its creation and
        // its registration would otherwise leave it behind.
        known.emplace(partPath.c_str());
        fd = ::open(partPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0)
            break;
        const int reason = errno;
        known.reset();
        errno = reason; // for the message below
        if (reason != EEXIST)
            break;
    }
    if (fd < 0) {
        error = systemError("cannot create", partPath);
        partPath.clear();
    }
    return fd;
}

/// The state of one running transfer, reached from libcurl's callbacks.
struct Transfer
{
    Transfer(const Request& request, Watcher& watcher)
        : settings(request)
        , watcher(watcher)
    {
    }

    const Request& settings;
    Watcher& watcher;
    CURL* curl = nullptr;
    std::string partPath;
    /// Known to the handler that removes partial files when the process is ended.
    std::optional<PartialFile> partial;
    int fd = -1;
    bool responseChecked = false;
    std::string head;               ///< the body's first bytes, while fewer than three arrived
    std::vector<long long> lengths; ///< the Content-Length values of the response being read
    bool encoded = false;           ///< the response has a Content-Encoding, which libcurl decodes
    std::optional<Clock::time_point> lastByte; ///< when the last body byte arrived
    long long announced = -1; ///< Content-Length of the final response, -1 when unknown
    long long written = 0;
    long long roomTaken = 0; ///< of the shared room, given back when the transfer fails
    std::string error;
    bool gone = false; ///< the address no longer gives the file (see Outcome)
    /// The body's digest, taken on this thread as it is written, when the request asks.
    std::unique_ptr<Sha256> hash;
    Clock::time_point lastProgress = Clock::now();

    /// Creates the partial file new and exclusively, under a name no other transfer holds: a
    /// file or link planted under a predictable name is never followed, truncated or removed.
    bool openFile(const std::string& target)
    {
        fd = createPartialFile(target, partPath, partial, error);
        return fd >= 0;
    }

    /// The first body bytes (or the end of a body-less answer) decide whether it is wanted.
    bool checkResponse()
    {
        responseChecked = true;
        const long status = TransferStatus(curl);
        if (status < 200 || status > 299) {
            error = "the server answered with status " + std::to_string(status);
            gone = status == 404 || status == 410;
            return false;
        }
        // libcurl takes the last of several Content-Length headers; two sizes are a reply no
        // one can trust.
        if (std::any_of(lengths.begin(), lengths.end(),
                        [&](long long length) { return length != lengths.front(); })) {
            error = "the server announced two different sizes";
            return false;
        }
        // A size that is no number or too large to hold leaves nothing to check the body
        // against: a body cut short would pass as whole.
        if (!lengths.empty() && lengths.front() < 0) {
            error = "the server announced a size that cannot be right";
            return false;
        }
        if (lengths.empty() && settings.binaryData) {
            error = "the server did not announce the size of the file";
            return false;
        }
        // An encoded body's length is not the file's: libcurl checks it, the file size is
        // known at the end.
        announced = lengths.empty() || encoded ? -1 : lengths.front();
        return openFile(settings.fileName);
    }

    /// A body that must be a Flash movie is judged by its first three bytes.
    bool checkHead(const char* data, std::size_t size)
    {
        if (!settings.flashMovieOnly || head.size() >= 3)
            return true;
        head.append(data, std::min<std::size_t>(size, 3 - head.size()));
        if (head.size() < 3 || BeginsAsFlashMovie(head))
            return true;
        error = "not a Flash movie";
        gone = true;
        return false;
    }

    bool append(const char* data, std::size_t size)
    {
        const bool whole = writeAll(fd, data, size, [this](const char* piece, std::size_t n) {
            if (hash)
                hash->addData(std::string_view(piece, n));
            written += static_cast<long long>(n);
        });
        if (!whole)
            error = systemError("cannot write", partPath);
        return whole;
    }

    void closeFile()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
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

    /// Takes body bytes from libcurl; false ends the transfer as failed.
    bool receive(const char* data, std::size_t size)
    {
        if (watcher.cancelled())
            return false;
        if (!responseChecked && !checkResponse())
            return false;
        lastByte = Clock::now();
        if (settings.maxSize >= 0 && written + static_cast<long long>(size) > settings.maxSize) {
            error = "the file is larger than " + std::to_string(settings.maxSize >> 20) + " MiB";
            return false;
        }
        if (settings.sharedRoom && !takeRoom(static_cast<long long>(size))) {
            error = "the room left for these files ran out";
            return false;
        }
        if (!checkHead(data, size) || !append(data, size))
            return false;
        if (millisecondsSince(lastProgress) >= Watcher::kProgressIntervalMs) {
            lastProgress = Clock::now();
            watcher.progress(std::max<long long>(announced, 0), written);
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
    const std::string_view line = Trimmed(std::string_view(data, size * count));
    const std::size_t colon = line.find(':');
    const bool named = colon != std::string_view::npos && colon > 0;
    const std::string name = named ? AsciiLower(Trimmed(line.substr(0, colon))) : std::string();
    const std::string_view value = named ? Trimmed(line.substr(colon + 1)) : std::string_view();
    if (line.starts_with("HTTP/")) {
        transfer->lengths.clear();
        transfer->encoded = false;
    } else if (name == "content-length") {
        transfer->lengths.push_back(lengthOf(value));
    } else if (name == "content-encoding" && AsciiLower(value) != "identity") {
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

/// Why a transfer libcurl ended with `result` failed, in the user's words.
std::string failureOf(const Transfer& transfer, CURLcode result, const char* errorBuffer)
{
    const Request& settings = transfer.settings;
    const bool tooSlow =
        result == CURLE_OPERATION_TIMEDOUT && std::strstr(errorBuffer, "Operation too slow");
    // libcurl gives up when the rate stayed under a byte a second for the whole time-out: a
    // server that went quiet, or one that drips. Its clock and ours differ by a moment.
    const long long quietMs = settings.stallTimeout * 1000LL - 250;
    const std::string seconds = std::to_string(settings.stallTimeout);
    if (tooSlow && (!transfer.lastByte || millisecondsSince(*transfer.lastByte) >= quietMs))
        return "no data arrived for " + seconds + " seconds";
    if (tooSlow)
        return "the server sent less than a byte a second for " + seconds + " seconds";
    if (result == CURLE_OPERATION_TIMEDOUT && settings.timeLimit > 0)
        return "the transfer took longer than " + std::to_string(settings.timeLimit) + " seconds";
    return errorBuffer[0] ? errorBuffer : curl_easy_strerror(result);
}

bool perform(Transfer& transfer)
{
    CURL* curl = curl_easy_init();
    if (!curl) {
        transfer.error = "the network library could not start";
        return false;
    }
    transfer.curl = curl;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const Request& settings = transfer.settings;

    curl_slist* headers = nullptr;
    const std::string accept = "Accept: " + settings.acceptTypes;
    headers = curl_slist_append(headers, accept.c_str());
    if (!settings.useCache) {
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
    }

    SetTransferBasics(curl, settings.url.c_str(), errorBuffer,
                      static_cast<long>(settings.stallTimeout));
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kBufferSize);
    if (settings.timeLimit > 0)
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(settings.timeLimit));
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
        headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(settings.postQuery.size()));
        curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, settings.postQuery.c_str());
    }
    if (!settings.caCertificates.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, settings.caCertificates.c_str());
    PublicOnly publicOnly;
    if (settings.publicOnly) {
        publicOnly.allowedOrigin = settings.allowedOrigin;
        RestrictToPublicAddresses(curl, publicOnly);
    }
    // Ask for the body as it is, and decode one the server compressed all the same.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "identity");
    SetTransferCallbacks(curl, onHeader, onBody, onTick, &transfer);

    const CURLcode result = curl_easy_perform(curl);
    bool succeeded = result == CURLE_OK;
    if (succeeded && !transfer.responseChecked)
        succeeded = transfer.checkResponse(); // an empty body: still a file, if the answer is good
    if (succeeded && settings.flashMovieOnly && !BeginsAsFlashMovie(transfer.head)) {
        transfer.error = "not a Flash movie";
        transfer.gone = true;
        succeeded = false;
    }
    // A host that is no more, or that refuses: the address no longer gives the file. A time-out
    // or a server error may pass.
    if (result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_CONNECT)
        transfer.gone = true;
    if (succeeded && transfer.announced >= 0 && transfer.written != transfer.announced) {
        transfer.error = "the body had " + std::to_string(transfer.written) + " of " +
                         std::to_string(transfer.announced) + " bytes";
        succeeded = false;
    }
    if (!publicOnly.refusal.empty()) {
        succeeded = false;
        transfer.error = publicOnly.refusal;
        transfer.gone = false;
    }
    if (!succeeded && transfer.error.empty())
        transfer.error = failureOf(transfer, result, errorBuffer);
    if (transfer.watcher.cancelled())
        transfer.error = "the transfer was cancelled";

    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return succeeded;
}

} // namespace

Outcome ToFile(const Request& request, Watcher& watcher)
{
    InitCurlOnce();
    Transfer transfer(request, watcher);
    if (request.sha256)
        transfer.hash = std::make_unique<Sha256>();

    Outcome outcome;
    const bool succeeded = perform(transfer);
    transfer.closeFile();
    if (succeeded && !watcher.cancelled()) {
        if (std::rename(transfer.partPath.c_str(), request.fileName.c_str()) == 0) {
            outcome.succeeded = true;
            outcome.fileSize = transfer.written;
            if (transfer.hash)
                outcome.sha256 = transfer.hash->hexResult();
            watcher.progress(std::max<long long>(transfer.announced, 0), transfer.written);
            return outcome;
        }
        transfer.error = systemError("cannot replace", request.fileName);
    }
    if (!transfer.partPath.empty())
        ::unlink(transfer.partPath.c_str());
    if (request.sharedRoom)
        request.sharedRoom->fetch_add(transfer.roomTaken);
    outcome.error = transfer.error;
    outcome.addressGone = transfer.gone && !watcher.cancelled();
    return outcome;
}

ReplacingWriter::ReplacingWriter(std::string target)
    : m_target(std::move(target))
{
}

ReplacingWriter::~ReplacingWriter()
{
    discard();
}

void ReplacingWriter::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_partPath.empty())
        ::unlink(m_partPath.c_str());
    m_partPath.clear();
    m_known.reset();
}

bool ReplacingWriter::write(std::string_view bytes, std::string* error)
{
    std::string failure = "nothing more is written after a failure";
    if (!m_failed && m_fd < 0 && m_partPath.empty())
        m_fd = createPartialFile(m_target, m_partPath, m_known, failure);
    if (!m_failed && m_fd >= 0) {
        if (writeAll(m_fd, bytes.data(), bytes.size(), [](const char*, std::size_t) {})) {
            m_size += bytes.size();
            return true;
        }
        failure = systemError("cannot write", m_partPath);
    }
    m_failed = true;
    discard();
    if (error)
        *error = failure;
    return false;
}

bool ReplacingWriter::commit(std::string* error)
{
    if (!write({}, error))
        return false;
    std::string failure;
    if (::fsync(m_fd) != 0)
        failure = systemError("cannot write", m_partPath);
    ::close(std::exchange(m_fd, -1));
    if (failure.empty() && std::rename(m_partPath.c_str(), m_target.c_str()) == 0) {
        m_partPath.clear(); // it is the target now
        m_known.reset();
        return true;
    }
    if (failure.empty())
        failure = systemError("cannot replace", m_target);
    m_failed = true;
    discard();
    if (error)
        *error = failure;
    return false;
}

bool WriteFileReplacing(const std::string& target, std::string_view bytes, std::string* error)
{
    ReplacingWriter writer(target);
    return writer.write(bytes, error) && writer.commit(error);
}

bool BeginsAsFlashMovie(std::string_view head)
{
    return head.size() >= 3 && (head[0] == 'F' || head[0] == 'C' || head[0] == 'Z') &&
           head[1] == 'W' && head[2] == 'S';
}

} // namespace transfer
