#pragma once

#include "background.h"
#include "filetransfer.h"

#include <QObject>
#include <QString>

#include <memory>

struct TransferShared;

/// Copies one web resource into one local file on a worker thread, one transfer at a time, and
/// reports progress, success and failure on the thread that owns it.
///
/// The file is written to a new partial file beside FileName, created exclusively under a name of
/// its own, and renamed over FileName only when the whole body arrived, so a failed or cancelled
/// transfer leaves no partial file and never destroys an older good one. An address is encoded
/// as a browser would before it is asked for (spaces, non-ASCII paths and host names). Redirects
/// are followed (at most 10), an explicit port is honoured, https works against the system's
/// certificates, the desktop's proxy settings are used, a final status outside 2xx is a failure,
/// and a transfer that cannot connect within 30 seconds or receives no byte for StallTimeout
/// seconds fails.
class THTTPGet final : public QObject
{
    Q_OBJECT
public:
    explicit THTTPGet(QObject* parent = nullptr);
    /// Cancels a running transfer; no event is delivered afterwards.
    ~THTTPGet() override;
    Q_DISABLE_COPY_MOVE(THTTPGet)

    // Published properties, copied by the worker when a transfer starts: changing them while a
    // transfer runs affects only the next one.
    QString AcceptTypes = QStringLiteral("*/*");
    QString Agent = DefaultAgent();
    bool BinaryData = false; ///< a response without a Content-Length fails
    /// A body that does not begin as a Flash movie does ("FWS", "CWS", "ZWS") fails: an error
    /// page answered with 200, or an empty body, never replaces a movie.
    bool FlashMovieOnly = false;
    QString URL;
    bool UseCache = false; ///< false: ask every cache on the way for a fresh copy
    QString FileName;      ///< full path of the target file
    QString UserName;
    QString Password;
    QString PostQuery; ///< not empty: the request is a POST with this form body
    QString Referer;
    bool WaitThread = false; ///< StartTransfer returns only when the transfer has ended
    int StallTimeout = 60;   ///< seconds without a byte
    qint64 MaxSize = -1;     ///< a body larger than this many bytes fails; -1: no limit
    int TimeLimit = 0;       ///< seconds the whole transfer may take; 0: no limit
    QString CaCertificates;  ///< extra trusted certificates (PEM file); empty: the system's

    static QString DefaultAgent();

    /// The transfer the current properties describe.
    transfer::Request request() const;
    /// Starts a transfer with the current properties. Ignored, without any event, while one runs.
    /// With WaitThread the caller's events keep being processed until the transfer has ended.
    void StartTransfer();
    /// Starts the transfer `request` describes, as StartTransfer does (WaitThread included).
    void StartTransfer(const transfer::Request& request);
    /// Ends a running transfer as failed (OnError).
    void CancelTransfer();
    bool isBusy() const { return m_busy; }
    /// From now on each transfer leaves its connection open for the next one to the same site,
    /// until dropConnections: a worker with a queue of files from one site asks once.
    void keepConnections();
    /// Closes the connections kept (once the running transfer, if any, has ended).
    void dropConnections();

    /// Why the last transfer failed, in one line; empty after a success.
    QString errorString() const { return m_errorString; }
    /// Whether the last transfer failed because its address no longer gives the file: its host
    /// is not found or refuses, it answered 404 or 410, or its reply is no Flash movie (where one
    /// is wanted). Not for other statuses or time-outs, which may pass.
    bool addressGone() const { return m_addressGone; }
    /// Hex SHA-256 of the file the last transfer brought, when its request asked for it.
    QByteArray sha256() const { return m_sha256; }

signals:
    /// Progress of the running transfer: the announced size (0 when unknown) and the bytes read.
    /// Sent a few times a second at most, and once at the end.
    void OnProgress(qint64 totalSize, qint64 readed);
    /// The whole file arrived and is in place.
    void OnDoneFile(const QString& fileName, qint64 fileSize);
    /// The transfer failed or was cancelled; errorString() says why.
    void OnError();
    /// The component is idle again (after OnDoneFile or OnError has returned).
    void idle();

private:
    void completed();
    void deliverProgress();

    Background::Handle m_task;
    bool m_busy = false;
    std::shared_ptr<TransferShared> m_shared;
    /// Shared with the running transfer, which holds it until it ends.
    std::shared_ptr<transfer::Connections> m_connections;
    QString m_errorString;
    bool m_addressGone = false;
    QByteArray m_sha256;
    QString m_runningFileName;
};
