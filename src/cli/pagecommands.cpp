#include "commandline.h"
#include "commands.h"
#include "terminalprogress.h"

#include "cachepass.h"
#include "htmlscan.h"
#include "pagecharset.h"
#include "fetch.h"
#include "pagedetection.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <atomic>
#include <memory>

namespace cli {

namespace {

/// The largest page the scan commands read.
constexpr qsizetype kMaxPageBytes = qsizetype(64) << 20;

/// The bytes of a scan command's page; a file's are mapped while the page lives, not copied.
struct Page
{
    std::unique_ptr<QFile> file;
    QByteArray bytes;
};

/// The page of a scan command: a file, or standard input for "-" or none.
std::optional<Page> readPage(const CommandLine& line, QTextStream& err)
{
    const QString name = line.words.value(1, QStringLiteral("-"));
    Page page{std::make_unique<QFile>(), {}};
    QFile& file = *page.file;
    const bool opened = name == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                     : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    const auto cannotRead = [&] {
        err << "clipvault-cli: cannot read " << name << ": " << file.errorString() << Qt::endl;
        return std::nullopt;
    };
    const auto tooLarge = [&] {
        err << "clipvault-cli: " << name << " is larger than " << (kMaxPageBytes >> 20)
            << " MiB; a page that large is not scanned" << Qt::endl;
        return std::nullopt;
    };
    if (!opened)
        return cannotRead();
    if (!file.isSequential()) {
        if (file.size() > kMaxPageBytes)
            return tooLarge();
        // A file that tells no size (as those of /proc) is read as a stream is.
        if (const uchar* mapped = file.size() > 0 ? file.map(0, file.size()) : nullptr) {
            page.bytes =
                QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), file.size());
            return page;
        }
    }
    // Read in pieces up to the limit, so that endless input ends with a message, not with the
    // memory exhausted.
    for (;;) {
        const QByteArray piece = file.read(1 << 20);
        if (piece.isEmpty())
            break;
        page.bytes += piece;
        if (page.bytes.size() > kMaxPageBytes)
            return tooLarge();
    }
    if (file.error() != QFileDevice::NoError)
        return cannotRead();
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
    // One text handed over at once: the stream converts it in one go, not 30 000 pieces.
    QString text;
    qsizetype length = 0;
    for (const ResultRow& row : results.rows())
        length += row.address.size() + row.saveAs.size() + 2;
    text.reserve(length);
    for (const ResultRow& row : results.rows())
        text += row.address + u'\t' + row.saveAs + u'\n';
    out << text;
}

} // namespace

int RunScan(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.base.isEmpty() || line.words.size() > 2) {
        return UsageError(line, err);
    }
    std::optional<Page> page = readPage(line, err);
    if (!page)
        return kFailed;
    QByteArray& text = page->bytes;
    // A file has no header: its encoding is its byte-order mark's, its <meta>'s, or windows-1252.
    PageDecoder decoder(PageCharset(text, {}));
    if (decoder.isUtf16()) {
        text = decoder.toUtf8(text);
        decoder = PageDecoder("utf-8");
    }
    ScanResultList found;
    if (line.words[0] == u"scan-html")
        ExtractFlashLinks(text, line.base, found, decoder);
    else
        ExtractFrameLinks(text, line.base, found, decoder);
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
    transfer::Connections connections; // a site's pages come over one connection
    PageDetection detection(
        [&](const QString& url, int deadlineMs) {
            ++pages;
            if (progress.shows())
                progress.show(QStringLiteral("page %1, %2 movies: %3")
                                  .arg(pages)
                                  .arg(results.rows().size())
                                  .arg(url));
            return FetchPage(url, never, deadlineMs, &connections);
        },
        never);
    const QString error =
        detection.run(address, [&](const QStringList& movies) { results.AddResultRows(movies); });
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
