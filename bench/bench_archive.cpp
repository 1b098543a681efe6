// Listing the 10 000 archived movies of a site from a stand-in of the web archive that pages its
// index by 1 000 rows: `clipvault-cli archive list URL` as a process against the time its pacing
// alone requires ((pages - 1) x the spacing; the first request goes at once).

#include "benchfixtures.h"

#include "archivestandin.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kMovies = 10000;
constexpr int kPageRows = 1000;
constexpr int kPaceMs = 500;

} // namespace

void RunArchiveListComparison()
{
    std::printf("\nListing %d archived movies (pages of %d, %d ms apart):\n", kMovies, kPageRows,
                kPaceMs);
    ArchiveStandIn archive;
    archive.pageRows = kPageRows;
    for (int i = 0; i < kMovies; ++i)
        archive.captures.push_back(
            {"20090315000000", "http://dead.example/movies/m" + std::to_string(i) + ".swf",
             "application/x-shockwave-flash", 200, std::to_string(i), "FWS"});
    archive.start();
    QTemporaryDir data;
    QTemporaryDir cache;
    QFile conf(QDir(data.path()).filePath(QStringLiteral("clipvault.conf")));
    if (conf.open(QIODevice::WriteOnly))
        conf.write("[General]\narchivepace=" + QByteArray::number(kPaceMs) + "\n");
    conf.close();
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CLIPVAULT_ARCHIVE_URL"), archive.address());
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), cache.path()); // its own pace file
    cli.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    cli.start(QStringLiteral(CLIPVAULT_CLI),
              {QStringLiteral("--data-dir"), data.path(), QStringLiteral("archive"),
               QStringLiteral("list"), QStringLiteral("http://dead.example/")});
    if (!cli.waitForFinished(300000) || cli.exitCode() != 0) {
        std::printf("  the listing failed: skipped\n");
        return;
    }
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    const auto lines = cli.readAllStandardOutput().count('\n');
    const auto requests = archive.requests().size();
    const double pacing = static_cast<double>(requests - 1) * kPaceMs;
    std::printf("  clipvault-cli archive list %7.1f ms, %lld movies, %zu requests | pacing alone "
                "%7.1f ms: %.2f x (target <= 1.10)\n",
                ms, static_cast<long long>(lines), requests, pacing, ms / pacing);
}
