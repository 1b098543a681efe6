#pragma once

#include "filedownload.h"

#include <QByteArray>
#include <QString>

/// One transfer, as a value: what the component's properties say when it starts. The worker
/// works with its own copy.
struct DownloadRequest
{
    QString acceptTypes = QLatin1String(transfer::kAnyType);
    QString agent = QLatin1String(transfer::kProgramAgent); ///< the program's own, unless set
    QString url;
    QString fileName; ///< full path of the target file
    QString userName;
    QString password;
    QString postQuery;
    QString referer;
    QString caCertificates;
    bool binaryData = false;
    bool flashMovieOnly = false;
    bool useCache = false;
    bool sha256 = false; ///< the body's SHA-256 is taken as it is written (THTTPGet::sha256)
    int stallTimeout = transfer::kStallSeconds;
    qint64 maxSize = -1;
    int timeLimit = 0;
    /// Caused by a movie's content: public addresses only, but for `allowedOrigin` ("host:port").
    bool publicOnly = false;
    QString allowedOrigin;
    /// Bytes this and other transfers may still write in all (transfer::Request::sharedRoom).
    std::shared_ptr<std::atomic<long long>> sharedRoom;
};

/// What one transfer into a file came to.
struct TransferOutcome
{
    bool succeeded = false;
    qint64 fileSize = 0;
    QString error;            ///< why it failed
    bool addressGone = false; ///< the failure says the address no longer gives the file
    QByteArray sha256;        ///< hex, of the body written, when asked for
};

/// Who runs a transfer: it asks to stop, and hears how far it got.
using TransferWatcher = transfer::Watcher;

/// Copies one web resource into one local file on the calling thread, and returns when it is
/// done: the one transfer both THTTPGet's worker and a blocking caller run (see
/// transfer::ToFile).
TransferOutcome TransferToFile(const DownloadRequest& request, TransferWatcher& watcher);

/// The URL as libcurl takes it: a URL without a scheme is a plain web address ("host/a.swf"),
/// and characters a URL may not hold are encoded as a browser would (percent-encoded UTF-8 in
/// the path and query, an international host name in its ASCII form).
QByteArray TransferUrl(const QString& url);

/// Whether the bytes begin as a Flash movie does: "FWS" (plain), "CWS" (zlib) or "ZWS" (LZMA).
bool BeginsAsFlashMovie(QByteArrayView head);

/// Puts `bytes` at `path` as a transfer puts its body there (transfer::WriteFileReplacing):
/// whatever stands there, a link included, is replaced, never written through. False with the
/// system's reason in `error`.
bool ReplaceFileWith(const QString& path, QByteArrayView bytes, QString* error = nullptr);

/// A file put at `target` piece by piece as a transfer puts its body: into a partial file
/// beside it, renamed over it once whole (commit); removed when it goes uncommitted.
class ReplacingFile final
{
public:
    explicit ReplacingFile(const QString& target);
    ~ReplacingFile();
    Q_DISABLE_COPY_MOVE(ReplacingFile)

    /// False with the system's reason in `error`; nothing more is written then.
    bool append(QByteArrayView bytes, QString* error = nullptr);
    bool commit(QString* error = nullptr);
    qint64 size() const;

private:
    std::unique_ptr<transfer::ReplacingWriter> m_writer;
};
