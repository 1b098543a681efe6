#pragma once

#include "partialfiles.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The one transfer of a web resource into a local file, in plain C++ on libcurl: the download
// component runs it on its worker thread, and clipvault-cli runs it before it loads Qt at all.
namespace transfer {

inline constexpr char kAnyType[] = "*/*";
inline constexpr char kProgramAgent[] = "ClipVault/1.0";
inline constexpr int kStallSeconds = 60;

/// One transfer, as a value. Text is UTF-8, file names are the system's bytes.
struct Request
{
    std::string acceptTypes = kAnyType;
    std::string agent = kProgramAgent; ///< the program's own, unless set
    std::string url;                   ///< as libcurl takes it: encoded, with its scheme
    std::string fileName;              ///< full path of the target file
    std::string userName;
    std::string password;
    std::string postQuery;
    std::string referer;
    std::string caCertificates;
    bool binaryData = false;
    bool flashMovieOnly = false;
    bool useCache = false;
    bool sha256 = false; ///< the body's SHA-256 is taken as it is written
    int stallTimeout = kStallSeconds;
    long long maxSize = -1;
    int timeLimit = 0;
    /// A fetch a movie's content caused: only public addresses are reached, at every redirect
    /// and after name resolution, but for `allowedOrigin` ("host:port", the movie's own site).
    bool publicOnly = false;
    std::string allowedOrigin;
    /// Bytes this transfer and the others sharing the count may still write in all: each byte
    /// written takes one, and a transfer that fails gives its bytes back. None: no shared bound.
    std::shared_ptr<std::atomic<long long>> sharedRoom;
};

/// What one transfer into a file came to.
struct Outcome
{
    bool succeeded = false;
    long long fileSize = 0;
    std::string error;        ///< why it failed
    bool addressGone = false; ///< the failure says the address no longer gives the file
    std::string sha256;       ///< hex, of the body written, when asked for
};

/// Who runs a transfer: it asks to stop, and hears how far it got.
class Watcher
{
public:
    virtual ~Watcher() = default;
    /// Asked between blocks and while waiting for one: true ends the transfer as cancelled.
    virtual bool cancelled() const = 0;
    /// The bytes announced (0: unknown) and written so far; at most every kProgressIntervalMs,
    /// and once more when the file is complete.
    virtual void progress(long long total, long long read) = 0;

    static constexpr long long kProgressIntervalMs = 100;
};

/// Copies one web resource into one local file on the calling thread, and returns when it is
/// done.
///
/// The body goes to a new partial file beside the target, created exclusively under a name of
/// its own, and is renamed over the target only when all of it arrived; a failed or cancelled
/// transfer removes it and leaves an older file as it was.
Outcome ToFile(const Request& request, Watcher& watcher);

/// A file written piece by piece into a new partial file beside `target`, and renamed over it
/// only once whole (commit): whatever stands at `target` (a link included) is replaced, never
/// written through, and until then it stays as it was. A writer that goes uncommitted removes
/// its partial file.
class ReplacingWriter final
{
public:
    explicit ReplacingWriter(std::string target);
    ~ReplacingWriter();
    ReplacingWriter(const ReplacingWriter&) = delete;
    ReplacingWriter& operator=(const ReplacingWriter&) = delete;

    /// Appends `bytes`, making the partial file on the first call. False with the reason in
    /// `error`; the writer is then of no more use.
    bool write(std::string_view bytes, std::string* error);
    /// Flushes the file to the disk and renames it over the target.
    bool commit(std::string* error);
    /// The bytes written so far.
    std::uint64_t size() const { return m_size; }

private:
    void discard();

    std::string m_target;
    std::string m_partPath;
    std::optional<PartialFile> m_known;
    int m_fd = -1;
    bool m_failed = false;
    std::uint64_t m_size = 0;
};

/// Writes `bytes` to a new partial file beside `target` and renames it over `target`, as a
/// transfer's body is: whatever stands at `target` (a link included) is replaced, never written
/// through, and a failure leaves it as it was. False with the reason in `error`.
bool WriteFileReplacing(const std::string& target, std::string_view bytes,
                        std::string* error = nullptr);

/// Whether the bytes begin as a Flash movie does: "FWS" (plain), "CWS" (zlib) or "ZWS" (LZMA).
bool BeginsAsFlashMovie(std::string_view head);

} // namespace transfer
