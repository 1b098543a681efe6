#include "filetransfer.h"

#include "replacingfile.h"
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

void SetWebAddress(transfer::Request& request, const QString& url, const QString& fileName)
{
    request.url = TransferUrl(url).toStdString();
    request.fileName = QFile::encodeName(fileName).toStdString();
}

transfer::Request WebRequest(const QString& url, const QString& fileName)
{
    transfer::Request request;
    SetWebAddress(request, url, fileName);
    return request;
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
