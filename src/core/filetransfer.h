#pragma once

#include "fetch.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace transfer {
class ReplacingWriter;
}

/// Points `request` at `url` (encoded as TransferUrl does) and the file `fileName`, or memory
/// when it is empty.
void SetWebAddress(transfer::Request& request, const QString& url, const QString& fileName = {});
/// A request for `url` into `fileName` (SetWebAddress): the start of every fetch the Qt side
/// makes.
transfer::Request WebRequest(const QString& url, const QString& fileName = {});

/// Who runs a transfer: it asks to stop, and hears how far it got.
using TransferWatcher = transfer::Watcher;

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
