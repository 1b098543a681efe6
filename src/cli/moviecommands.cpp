#include "commandline.h"
#include "commands.h"
#include "terminalprogress.h"

#include "httpget.h"
#include "swfinfo.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace cli {

int RunDownload(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 3) {
        return UsageError(line, err);
    }
    THTTPGet httpGet;
    httpGet.AcceptTypes = QStringLiteral("*/*");
    httpGet.BinaryData = true;
    httpGet.FlashMovieOnly = !line.any; // the program's rule: a page is no movie
    httpGet.UseCache = true;
    httpGet.WaitThread = true;
    httpGet.URL = line.words[1];
    httpGet.FileName = QFileInfo(line.words[2]).absoluteFilePath();
    qint64 size = -1;
    QObject::connect(&httpGet, &THTTPGet::OnDoneFile,
                     [&](const QString&, qint64 fileSize) { size = fileSize; });
    TerminalProgress progress(err);
    QObject::connect(&httpGet, &THTTPGet::OnProgress, [&](qint64 total, qint64 received) {
        progress.show(QStringLiteral("downloading: ") + TransferProgressText(received, total));
    });
    httpGet.StartTransfer();
    progress.clear();
    if (size < 0) {
        err << "clipvault-cli: " << httpGet.URL << ": " << httpGet.errorString() << Qt::endl;
        return kFailed;
    }
    out << size << Qt::endl;
    return kOk;
}

int RunSwfInfo(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 2) {
        return UsageError(line, err);
    }
    QString error;
    const std::optional<SwfInfo> info = ReadSwfInfoFromFile(line.words[1], &error);
    if (!info) {
        err << "clipvault-cli: " << line.words[1] << ": " << error << Qt::endl;
        return kFailed;
    }
    if (line.json) {
        const QJsonObject object{{QStringLiteral("signature"), info->signature},
                                 {QStringLiteral("version"), info->version},
                                 {QStringLiteral("width"), info->width},
                                 {QStringLiteral("height"), info->height},
                                 {QStringLiteral("frameRate"), info->frameRate},
                                 {QStringLiteral("frameCount"), info->frameCount}};
        out << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
        return kOk;
    }
    const QString compression = info->signature == u"CWS"   ? QStringLiteral("zlib")
                                : info->signature == u"ZWS" ? QStringLiteral("LZMA")
                                                            : QStringLiteral("none");
    out << "signature " << info->signature << " (compression: " << compression << ")\n"
        << "version " << info->version << '\n'
        << "size " << info->width << " x " << info->height << " pixels\n"
        << "frame rate " << info->frameRate << " per second\n"
        << "frames " << info->frameCount << '\n';
    return kOk;
}

} // namespace cli
