#include "filetransfer.h"

#include "webaddress.h"

#include <QFile>
#include <QUrl>

QByteArray TransferUrl(const QString& url)
{
    // Nearly every address is written encoded already, and parsing it would give it back as it
    // is: a detection hands hundreds of them over in a row.
    if (QByteArray written = url.toUtf8(); transfer::IsEncodedWebAddress(
            std::string_view(written.constData(), static_cast<std::size_t>(written.size()))))
        return written;
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
    return transfer::BeginsAsFlashMovie(
        std::string_view(head.data(), static_cast<std::size_t>(head.size())));
}

namespace {

transfer::Request plainRequest(const DownloadRequest& request)
{
    transfer::Request plain;
    plain.acceptTypes = request.acceptTypes.toStdString();
    plain.agent = request.agent.toStdString();
    plain.url = TransferUrl(request.url).toStdString();
    plain.fileName = QFile::encodeName(request.fileName).toStdString();
    plain.userName = request.userName.toStdString();
    plain.password = request.password.toStdString();
    plain.postQuery = request.postQuery.toStdString();
    plain.referer = request.referer.toStdString();
    plain.caCertificates = QFile::encodeName(request.caCertificates).toStdString();
    plain.binaryData = request.binaryData;
    plain.flashMovieOnly = request.flashMovieOnly;
    plain.useCache = request.useCache;
    plain.sha256 = request.sha256;
    plain.stallTimeout = request.stallTimeout;
    plain.maxSize = request.maxSize;
    plain.timeLimit = request.timeLimit;
    plain.publicOnly = request.publicOnly;
    plain.allowedOrigin = request.allowedOrigin.toStdString();
    plain.sharedRoom = request.sharedRoom;
    return plain;
}

} // namespace

TransferOutcome TransferToFile(const DownloadRequest& request, TransferWatcher& watcher)
{
    const transfer::Outcome plain = transfer::ToFile(plainRequest(request), watcher);
    TransferOutcome outcome;
    outcome.succeeded = plain.succeeded;
    outcome.fileSize = plain.fileSize;
    outcome.error = QString::fromStdString(plain.error);
    outcome.addressGone = plain.addressGone;
    outcome.sha256 = QByteArray::fromStdString(plain.sha256);
    return outcome;
}

ReplacingFile::ReplacingFile(const QString& target)
    : m_writer(std::make_unique<transfer::ReplacingWriter>(QFile::encodeName(target).toStdString()))
{
}

ReplacingFile::~ReplacingFile() = default;

bool ReplacingFile::append(QByteArrayView bytes, QString* error)
{
    std::string failure;
    if (m_writer->write(std::string_view(bytes.data(), bytes.size()), &failure))
        return true;
    if (error)
        *error = QString::fromStdString(failure);
    return false;
}

bool ReplacingFile::commit(QString* error)
{
    std::string failure;
    if (m_writer->commit(&failure))
        return true;
    if (error)
        *error = QString::fromStdString(failure);
    return false;
}

qint64 ReplacingFile::size() const
{
    return static_cast<qint64>(m_writer->size());
}

bool ReplaceFileWith(const QString& path, QByteArrayView bytes, QString* error)
{
    std::string failure;
    const bool replaced =
        transfer::WriteFileReplacing(QFile::encodeName(path).toStdString(),
                                     std::string_view(bytes.data(), bytes.size()), &failure);
    if (!replaced && error)
        *error = QString::fromStdString(failure);
    return replaced;
}
