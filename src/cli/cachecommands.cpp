#include "commandline.h"
#include "commands.h"

#include "cacheentry.h"
#include "cachepass.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace cli {

std::optional<QList<CacheLocation>> CacheLocations(const CommandLine& line, QTextStream& err)
{
    QList<CacheLocation> locations =
        line.dir.isEmpty()
            ? CacheEnumerator::DiscoverCaches(CacheEnumerator::ProfileFolders(DataFolderOf(line)))
            : CacheEnumerator::CachesBelow(line.dir);
    if (line.browser != u"auto") {
        const bool firefox = line.browser == u"firefox";
        if (!firefox && line.browser != u"chromium") {
            UsageError(line, err);
            return std::nullopt;
        }
        QList<CacheLocation> wanted;
        for (const CacheLocation& location : locations) {
            if ((location.format == CacheLocation::Format::FirefoxCache2) == firefox)
                wanted << location;
        }
        locations = wanted;
    }
    return locations;
}

int RunCacheList(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    const auto locations = CacheLocations(line, err);
    if (!locations)
        return kUsage;
    const CacheEnumerator enumerator(*locations);
    if (!enumerator.LibraryFound()) {
        err << "clipvault-cli: no supported browser cache was found" << Qt::endl;
        return kFailed;
    }
    QJsonArray array;
    DetectionResults results;
    const QString host = CacheHostOf(line.host);
    enumerator.EnumerateEntries([&](const CacheEntry& entry, bool&) {
        QString address = entry.url;
        if (!line.all) {
            // The cache pass of the detection: the site's movies, query cut, each once.
            const int before = static_cast<int>(results.rows().size());
            CachePassEntry(entry, host, line.host.isEmpty(), results);
            if (results.rows().size() == before)
                return;
            address = results.rows().last().address;
        }
        if (line.json) {
            array.append(QJsonObject{{QStringLiteral("url"), address},
                                     {QStringLiteral("file"), entry.file},
                                     {QStringLiteral("size"), entry.bodySize},
                                     {QStringLiteral("browser"), entry.browser}});
        } else {
            out << PrintableKey(address) << '\n';
        }
    });
    if (line.json)
        out << QJsonDocument(array).toJson(QJsonDocument::Compact) << Qt::endl;
    return kOk;
}

int RunCacheExtract(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 4) {
        return UsageError(line, err);
    }
    const auto locations = CacheLocations(line, err);
    if (!locations)
        return kUsage;
    const QString& wanted = line.words[2];
    std::optional<CacheEntry> found;
    CacheEnumerator(*locations).EnumerateEntries([&](const CacheEntry& entry, bool& cancel) {
        if (entry.url == wanted) {
            found = entry;
            cancel = true;
        }
    });
    if (!found) {
        err << "clipvault-cli: " << PrintableKey(wanted) << " is not in the cache" << Qt::endl;
        return kFailed;
    }
    QString error;
    if (!ExtractCachedBody(*found, line.words[3], &error)) {
        err << "clipvault-cli: " << error << Qt::endl;
        return kFailed;
    }
    out << QFileInfo(line.words[3]).size() << Qt::endl;
    return kOk;
}

} // namespace cli
