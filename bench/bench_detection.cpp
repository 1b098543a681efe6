// Scanning pages for movies and walking browser caches.

#include "benchfixtures.h"

#include "testserver.h"

#include "cacheenumerator.h"
#include "cachebuilder.h"
#include "htmlscan.h"
#include "pagedetection.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

namespace {

constexpr qsizetype kPageSize = 64 * 1024 * 1024;
constexpr int kReferences = 50000;
constexpr int kCacheEntries = 20000;

/// 64 MB of markup with 50 000 quoted movie references spread through it.
const QByteArray& largePage()
{
    static const QByteArray page = [] {
        QByteArray text;
        text.reserve(kPageSize + 4096);
        const QByteArray filler =
            "<div class=\"row\"><a href=\"/page/item.html\">An ordinary link</a> and some text "
            "with a.dot, another.dot and <img src='pic.png' alt=\"x\"></div>\r\n";
        const qsizetype gap = kPageSize / kReferences;
        for (int i = 0; i < kReferences; ++i) {
            const qsizetype target = (i + 1) * gap;
            while (text.size() + filler.size() < target)
                text += filler;
            text += "<embed src=\"movies/clip" + QByteArray::number(i) + ".swf\">";
        }
        return text;
    }();
    return page;
}

/// 64 MB of plain text full of dots and "www." words, with 3 000 quoted movie references.
const QByteArray& sparsePage()
{
    static const QByteArray page = [] {
        QByteArray text;
        text.reserve(kPageSize + 4096);
        const QByteArray filler =
            "Visit www.example.com or www.other.example.org. See e.g. p. 12, fig. 3.4 and "
            "v1.2.3... then www.x.y.z; also a.b.c.d. The end.\r\n";
        constexpr int kSparse = 3000;
        const qsizetype gap = kPageSize / kSparse;
        for (int i = 0; i < kSparse; ++i) {
            const qsizetype target = (i + 1) * gap;
            while (text.size() + filler.size() < target)
                text += filler;
            text += "<embed src=\"www.movies.example/clip" + QByteArray::number(i) + ".swf\">";
        }
        return text;
    }();
    return page;
}

/// `unit` repeated to `size` bytes: ".swf" followed by blanks, the worst case of the old scanner.
QByteArray blankRunsPage(qsizetype size)
{
    const QByteArray unit = ".swf" + QByteArray(4092, ' ');
    QByteArray page;
    while (page.size() < size)
        page += unit;
    return page;
}

void ScanBlankRuns(benchmark::State& state)
{
    const QByteArray page = blankRunsPage(state.range(0) * 1024 * 1024);
    for (auto _ : state) {
        ScanResultList list;
        ExtractFlashLinks(page, QStringLiteral("http://h/"), list);
    }
    state.SetBytesProcessed(state.iterations() * page.size());
}

/// A Chromium cache folder of 20 000 entries, made once.
const QString& largeCache()
{
    static QTemporaryDir folder;
    static const QString data = [] {
        const QString path =
            QDir(folder.path()).filePath(QStringLiteral("Default/Cache/Cache_Data"));
        QDir().mkpath(path);
        QFile index(path + QStringLiteral("/index"));
        index.open(QIODevice::WriteOnly);
        index.write(littleEndian<quint64>(0xfcfb6d1ba7725c30ULL) + QByteArray(16, '\0'));
        const QByteArray headers("HTTP/1.1 200 OK\0Content-Type: application/x-shockwave-flash\0\0",
                                 61);
        for (int i = 0; i < kCacheEntries; ++i) {
            const QByteArray key = "1/0/_dk_http://h http://h http://cdn.example.com/m/" +
                                   QByteArray::number(i) + ".swf";
            QFile entry(path + QStringLiteral("/%1_0").arg(static_cast<quint64>(i) * 7919 + 1, 16,
                                                           16, QChar(u'0')));
            entry.open(QIODevice::WriteOnly);
            entry.write(chromiumEntry(key, QByteArray(2048, 'm'), headers));
        }
        return folder.path();
    }();
    return data;
}

void ListCache(benchmark::State& state)
{
    const CacheEnumerator enumerator(CacheEnumerator::CachesBelow(largeCache()));
    for (auto _ : state) {
        int entries = 0;
        enumerator.EnumerateEntries([&](const CacheEntry&, bool&) { ++entries; });
        if (entries != kCacheEntries)
            state.SkipWithError("not every entry was listed");
    }
    state.SetItemsProcessed(state.iterations() * kCacheEntries);
}

} // namespace

BENCHMARK(ScanBlankRuns)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ListCache)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

namespace {

/// Scans `page` with the tool, as a process writing its rows to a file, against grep -oiE in the
/// ordinary form finding the same quoted references.
void printScanLine(const char* what, const QByteArray& page)
{
    QTemporaryDir folder;
    const QString file = QDir(folder.path()).filePath(QStringLiteral("page.html"));
    QFile written(file);
    written.open(QIODevice::WriteOnly);
    written.write(page);
    written.close();
    const std::string path = file.toStdString();
    // grep stops at the first match when its output is /dev/null, so both write to a real file.
    ChildOutput output;
    output.file = path + ".rows";
    output.watchMemory = false;
    const std::vector<std::string> scan = {CLIPVAULT_CLI, "scan-html", "--base",
                                           "http://movies.example.com/dir/page.html", path};
    const auto [tool, grep] =
        BestAlternating(scan, {"grep", "-oiE", "[\"'][^\"']*\\.swf[\"']", path}, output);
    // wc -l reads the same bytes and does nearly nothing with them: the floor of reading.
    const auto [again, wc] = BestAlternating(scan, {"wc", "-l", path}, output);
    if (!tool.ok || !grep.ok || !again.ok || !wc.ok) {
        std::printf("scan %s: a run failed (tool %d, grep %d, wc %d)\n", what, tool.ok, grep.ok,
                    wc.ok);
        return;
    }
    const double megabytes = page.size() / 1e6;
    std::printf("scan-html %-34s %7.1f ms  %6.0f MB/s  grep -oiE %6.0f MB/s: %.2f x grep "
                "(target >= 2.5); %.2f x the time of wc -l\n",
                what, tool.seconds * 1e3, megabytes / tool.seconds, megabytes / grep.seconds,
                grep.seconds / tool.seconds, std::min(tool.seconds, again.seconds) / wc.seconds);
}

} // namespace

void RunScanComparison()
{
    std::printf("\nScanning a page, end to end (best of 5, alternating):\n");
    printScanLine("a 64 MB page, 50 000 references", largePage());
    printScanLine("64 MB of plain text, 3 000 references", sparsePage());
}

namespace {

/// A page showing 199 frame pages, each naming 50 movies: 200 pages, 10 000 references.
const std::vector<std::string>& frameTreePages()
{
    static const std::vector<std::string> pages = [] {
        constexpr int kPages = 200;
        constexpr int kMoviesPerPage = 50;
        std::vector<std::string> bodies(kPages);
        for (int page = 0; page < kPages; ++page) {
            std::string& body = bodies[page];
            body = "<html><body>";
            for (int movie = 0; movie < kMoviesPerPage; ++movie)
                body += "<embed src=\"movies/p" + std::to_string(page) + "-m" +
                        std::to_string(movie) + ".swf\" width=\"400\" height=\"300\">\n";
            if (page == 0) {
                for (int frame = 1; frame < kPages; ++frame)
                    body += "<iframe src=\"f" + std::to_string(frame) + ".html\"></iframe>\n";
            }
            body += std::string(2000, ' ') + "</body></html>";
        }
        return bodies;
    }();
    return pages;
}

/// The detection of the frame tree without a network: fetching is handing over the page.
void DetectFrameTreeOffline(benchmark::State& state)
{
    const std::vector<std::string>& pages = frameTreePages();
    const std::atomic<bool> never{false};
    for (auto _ : state) {
        PageDetection detection(
            [&](const QString& url, int) {
                PageReply reply;
                reply.ok = true;
                reply.finalUrl = url;
                const int page = url.section(u'/', -1).mid(1).section(u'.', 0, 0).toInt();
                reply.body = QByteArray::fromStdString(pages[page]);
                return reply;
            },
            never);
        int found = 0;
        detection.run(QStringLiteral("http://h/f0.html"),
                      [&](const QStringList& movies) { found += int(movies.size()); });
        if (found != 10000)
            state.SkipWithError("not every movie was found");
    }
}

} // namespace

BENCHMARK(DetectFrameTreeOffline)->Unit(benchmark::kMillisecond)->UseRealTime();

void RunFrameTreeComparison()
{
    const std::vector<std::string>& bodies = frameTreePages();
    constexpr int kPages = 200;
    TestServer server;
    server.server().Get(
        R"(/f(\d+)\.html)", [&](const httplib::Request& request, httplib::Response& response) {
            response.set_content(bodies[std::stoul(request.matches[1])], "text/html");
        });
    server.start();
    // The same requests the detection makes: HTTP/1.0, a connection each.
    std::vector<std::string> curl{"curl", "-s", "--http1.0"};
    for (int page = 0; page < kPages; ++page) {
        curl.push_back("-o");
        curl.push_back("/dev/null");
        curl.push_back(server.url("/f" + std::to_string(page) + ".html"));
    }
    // Short runs on a shared machine: the two take turns nine times, and each gives its median
    // run (the fastest of either is one lucky moment).
    const std::vector<ChildRun> runs = MedianInTurn(
        {{CLIPVAULT_CLI, "detect", server.url("/f0.html"), "--no-cache"}, curl}, ChildOutput(), 9);
    const ChildRun& detect = runs[0];
    const ChildRun& fetch = runs[1];
    if (!detect.ok || !fetch.ok) {
        std::printf("detect a 200-page frame tree: a run failed (detect %d, curl %d)\n", detect.ok,
                    fetch.ok);
        return;
    }
    std::printf("detect a 200-page frame tree, 10 000 refs %8.1f ms  curl, same pages %7.1f ms:"
                " %.2f x curl (target <= 1.5)\n",
                detect.seconds * 1e3, fetch.seconds * 1e3, detect.seconds / fetch.seconds);
}
