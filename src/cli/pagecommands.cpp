#include "commandline.h"
#include "commands.h"
#include "terminalprogress.h"

#include "cachepass.h"
#include "htmlscan.h"
#include "pagecharset.h"
#include "pagedetection.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <atomic>

namespace cli {

namespace {

/// The largest page the scan commands read.
constexpr qsizetype kMaxPageBytes = qsizetype(64) << 20;

/// The page of a scan command: a file, or standard input for "-" or none.
std::optional<QByteArray> readPage(const CommandLine& line, QTextStream& err)
{
    const QString name = line.words.value(1, QStringLiteral("-"));
    QFile file;
    const bool opened = name == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                     : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened) {
        err << "clipvault-cli: cannot read " << name << ": " << file.errorString() << Qt::endl;
        return std::nullopt;
    }
    // Read in pieces up to the limit, so that endless input ends with a message, not with the
    // memory exhausted.
    QByteArray page;
    for (;;) {
        const QByteArray piece = file.read(1 << 20);
        if (piece.isEmpty())
            break;
        page += piece;
        if (page.size() > kMaxPageBytes) {
            err << "clipvault-cli: " << name << " is larger than " << (kMaxPageBytes >> 20)
                << " MiB; a page that large is not scanned" << Qt::endl;
            return std::nullopt;
        }
    }
    if (file.error() != QFileDevice::NoError) {
        err << "clipvault-cli: cannot read " << name << ": " << file.errorString() << Qt::endl;
        return std::nullopt;
    }
    return page;
}

/// The rows of a detection: a line each, "address<TAB>save-as name", or a JSON array.
void printRows(const DetectionResults& results, bool json, QTextStream& out)
{
    if (json) {
        QJsonArray array;
        for (const ResultRow& row : results.rows())
            array.append(QJsonObject{{QStringLiteral("url"), row.address},
                                     {QStringLiteral("saveAs"), row.saveAs}});
        out << QJsonDocument(array).toJson(QJsonDocument::Compact) << Qt::endl;
        return;
    }
    for (const ResultRow& row : results.rows())
        out << row.address << '\t' << row.saveAs << '\n';
}

} // namespace

int RunScan(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.base.isEmpty() || line.words.size() > 2) {
        return UsageError(line, err);
    }
    std::optional<QByteArray> page = readPage(line, err);
    if (!page)
        return kFailed;
    // A file has no header: its encoding is its byte-order mark's, its <meta>'s, or windows-1252.
    PageDecoder decoder(PageCharset(*page, {}));
    if (decoder.isUtf16()) {
        page = decoder.toUtf8(*page);
        decoder = PageDecoder("utf-8");
    }
    ScanResultList found;
    if (line.words[0] == u"scan-html")
        ExtractFlashLinks(*page, line.base, found, decoder);
    else
        ExtractFrameLinks(*page, line.base, found, decoder);
    for (const QString& address : found.toList())
        out << address << '\n';
    return kOk;
}

int RunDetect(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 2) {
        return UsageError(line, err);
    }
    const QString& address = line.words[1];
    DetectionResults results;
    if (IsDrivePath(address)) {
        printRows(results, line.json, out);
        return kOk;
    }
    if (IsMovieAddress(address)) {
        results.AddResultRow(address);
        printRows(results, line.json, out);
        return kOk;
    }
    const std::atomic<bool> never{false};
    TerminalProgress progress(err);
    int pages = 0;
    PageDetection detection(
        [&](const QString& url, int deadlineMs) {
            progress.show(QStringLiteral("page %1, %2 movies: %3")
                              .arg(++pages)
                              .arg(results.rows().size())
                              .arg(url));
            return FetchPage(url, never, deadlineMs);
        },
        never);
    const QString error = detection.run(address, [&](const QStringList& movies) {
        for (const QString& movie : movies)
            results.AddResultRow(movie);
    });
    progress.clear();
    if (!detection.limitNotice().isEmpty())
        err << "clipvault-cli: " << detection.limitNotice() << Qt::endl;
    if (error.isEmpty() && detection.limitNotice().isEmpty() && !line.noCache) {
        const std::optional<QList<CacheLocation>> locations = CacheLocations(line, err);
        if (!locations)
            return kUsage;
        const QString host = CacheHostOf(address);
        CacheEnumerator(*locations).EnumerateEntries([&](const CacheEntry& entry, bool&) {
            CachePassEntry(entry, host, false, results);
        });
    }
    printRows(results, line.json, out);
    if (!error.isEmpty()) {
        err << "clipvault-cli: " << error << Qt::endl;
        return kFailed;
    }
    return kOk;
}

} // namespace cli
