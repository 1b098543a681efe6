#include "commandline.h"
#include "commands.h"
#include "pagescan.h"
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
    return ScanPage(line.words[0] == u"scan-frames", line.base,
                    line.words.value(1, QStringLiteral("-")), out, err);
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
