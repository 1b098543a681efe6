#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include <curl/curl.h>

// The one way the program fetches from the web, in plain C++ on libcurl: the download component
// runs it on its worker thread, the detection and the web archive read pages and index answers
// with it, and clipvault-cli runs it before it loads Qt at all.
namespace transfer {

inline constexpr char kAnyType[] = "*/*";
inline constexpr char kProgramAgent[] = "ClipVault/1.0";
inline constexpr int kStallSeconds = 60;

/// One request, as a value: what is asked for and how, who may be reached, how long it may
/// take, and where its body goes. Text is UTF-8, file names are the system's bytes.
struct Request
{
    std::string url; ///< as libcurl takes it: encoded, with its scheme
    std::string agent = kProgramAgent;
    std::string acceptTypes = kAnyType; ///< the Accept header
    std::string referer;
    std::string userName;
    std::string password;
    std::string postQuery; ///< not empty: a POST with this form body
    std::string caCertificates;
    bool useCache = false;            ///< false: every cache on the way is asked for a fresh copy
    bool followRedirects = true;      ///< false: a redirect is the answer (Outcome::redirect)
    bool compressed = false;          ///< the body may come compressed (it is decoded); else as is
    int stallTimeout = kStallSeconds; ///< seconds with less than a byte a second
    long long timeLimitMs = 0;        ///< the whole transfer; 0: no limit

    /// false: a final status outside 2xx fails (404 and 410 saying the address is gone);
    /// true: any answer succeeds, and the caller judges Outcome::status.
    bool anyStatus = false;
    bool binaryData = false;     ///< an answer without a Content-Length fails
    bool flashMovieOnly = false; ///< a body that does not begin as a Flash movie does fails

    /// Where the body goes: a new partial file beside this file, renamed over it only when all
    /// of it arrived; empty: Outcome::body.
    std::string fileName;
    /// The folder the file lies in or below, taken as it is: every folder between it and the
    /// file is opened without following a link. Empty: the file's own folder.
    std::string folder;
    long long maxSize = -1;    ///< a longer body fails; -1: no limit
    bool cutAtMaxSize = false; ///< a longer body is cut there and its transfer ended, not failed
    bool sha256 = false;       ///< the body's SHA-256 is taken as it is written

    /// A fetch a movie's content caused: only public addresses are reached, at every redirect
    /// and after name resolution, but for `allowedOrigin` ("host:port", the movie's own site).
    bool publicOnly = false;
    std::string allowedOrigin;
    /// Bytes this transfer and the others sharing the count may still write in all: each byte
    /// written takes one, and a transfer that fails gives its bytes back. None: no shared bound.
    std::shared_ptr<std::atomic<long long>> sharedRoom;
};

/// Why a request failed, for callers that word it their own way.
enum class Failure
{
    None,
    Cancelled,
    Status,   ///< the answer's status was not wanted
    TimedOut, ///< the time limit passed
    NoHost,   ///< the host's name does not resolve
    Refused,  ///< the connection failed (Outcome::systemError says how)
    Other
};

/// What one request came to.
struct Outcome
{
    bool succeeded = false;
    Failure failure = Failure::None;
    std::string error;        ///< why it failed, in the user's words
    bool addressGone = false; ///< the failure says the address no longer gives the file
    int systemError = 0;      ///< the system's error number of a failed connection

    long status = 0;         ///< of the last answer; 0: none came
    std::string reason;      ///< that answer's reason phrase
    std::string contentType; ///< its Content-Type
    std::string retryAfter;  ///< its Retry-After
    std::string finalUrl;    ///< the address after the redirects followed
    std::string redirect;    ///< where an answer that was not followed leads

    std::string body;   ///< the body, when no file was named
    bool cut = false;   ///< the body was cut at Request::maxSize
    long long size = 0; ///< the body's bytes
    std::string sha256; ///< hex, of the body, when asked for
};

/// Who runs a request: it asks to stop, and hears how far it got.
class Watcher
{
public:
    virtual ~Watcher() = default;
    /// Asked between blocks and while waiting for one: true ends the transfer as cancelled.
    virtual bool cancelled() const = 0;
    /// The bytes announced (0: unknown) and written so far; at most every kProgressIntervalMs,
    /// and once more when the body is complete.
    virtual void progress(long long /*total*/, long long /*read*/) {}

    static constexpr long long kProgressIntervalMs = 100;
};

/// A watcher that stops when a flag is set, and hears no progress.
class FlagWatcher final : public Watcher
{
public:
    explicit FlagWatcher(const std::atomic<bool>& stop)
        : m_stop(stop)
    {
    }
    bool cancelled() const override { return m_stop.load(); }

private:
    const std::atomic<bool>& m_stop;
};

/// A libcurl handle that a worker keeps from request to request, so that a connection to a site
/// serves the next request to it (asked for with HTTP/1.0's keep-alive), and names and TLS
/// sessions stay known. One request at a time, from any thread; its connections close when it
/// goes, so a worker keeps it only while it has more to fetch.
class Connections final
{
public:
    Connections() = default;
    ~Connections();
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    /// The handle, made on first use and reset for each request; null when libcurl cannot make
    /// one.
    CURL* handle();

private:
    CURL* m_curl = nullptr;
};

/// Fetches one web resource on the calling thread and returns when it is done. With `kept`,
/// the request goes over its connections and leaves them open for the next one; without, over
/// a connection of its own.
///
/// A body for a file goes to a new partial file beside it, created exclusively under a name of
/// its own, and is renamed over the file only when all of it arrived; a failed or cancelled
/// transfer removes it and leaves an older file as it was.
Outcome Fetch(const Request& request, Watcher& watcher, Connections* kept = nullptr);

/// Whether the bytes begin as a Flash movie does: "FWS" (plain), "CWS" (zlib) or "ZWS" (LZMA).
bool BeginsAsFlashMovie(std::string_view head);

} // namespace transfer
