// A static capture: a movie naming 50 files of 100 KB, kept by `clipvault-cli capture URL --into
// DIR --seconds 0` (which also downloads the movie and writes the manifest), against one curl
// process fetching the same 50 files one after another. Each side timed as a process, in turn
// with the tool's own start-up (a command on an empty data folder) five times, each run into a
// new folder; each gives its median run. The fetch alone is the capture less that start-up.

#include "benchfixtures.h"

#include "swfwriter.h"
#include "testserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kFiles = 50;
constexpr int kFileBytes = 100 * 1024;

/// One run in milliseconds, into a folder of its own; a negative time when it failed.
double runMs(const QString& program, const std::function<QStringList(const QString&)>& arguments)
{
    QTemporaryDir into;
    QProcess process;
    process.setWorkingDirectory(into.path());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments(into.path()));
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return -1;
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

void RunCaptureComparison()
{
    std::printf("\nA static capture of a movie naming %d files of %d KB:\n", kFiles,
                kFileBytes / 1024);
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        std::printf("  curl is not installed: skipped\n");
        return;
    }
    QByteArray actions;
    QList<QByteArray> names;
    for (int i = 0; i < kFiles; ++i)
        names << "files/part" + QByteArray::number(i) + ".jpg";
    SwfMovie movie;
    movie.tags = swftags::doAction(swftags::constantPool(names));
    const std::string movieBytes = WriteSwf(movie).toStdString();
    const std::string fileBytes(kFileBytes, 'x');
    TestServer server;
    server.server().Get("/game/movie.swf",
                        [&](const httplib::Request&, httplib::Response& response) {
                            response.set_content(movieBytes, "application/x-shockwave-flash");
                        });
    server.server().Get(R"(/game/files/part\d+\.jpg)",
                        [&](const httplib::Request&, httplib::Response& response) {
                            response.set_content(fileBytes, "image/jpeg");
                        });
    server.start();
    const QString movieUrl = QString::fromStdString(server.url("/game/movie.swf"));
    const auto program = [&](const QString& into) {
        return QStringList{QStringLiteral("capture"),   movieUrl,
                           QStringLiteral("--into"),    into,
                           QStringLiteral("--seconds"), QStringLiteral("0")};
    };
    const auto peer = [&](const QString&) {
        QStringList arguments{QStringLiteral("-sf")};
        for (int i = 0; i < kFiles; ++i)
            arguments << QStringLiteral("-o") << QStringLiteral("part%1.jpg").arg(i)
                      << QString::fromStdString(
                             server.url("/game/files/part" + std::to_string(i) + ".jpg"));
        return arguments;
    };
    // Runs of some 30 ms on a shared machine: the fastest of either is one lucky moment.
    const auto startUp = [](const QString& empty) {
        return QStringList{QStringLiteral("--data-dir"), empty, QStringLiteral("catalogue"),
                           QStringLiteral("count")};
    };
    std::vector<double> programRuns;
    std::vector<double> startUpRuns;
    std::vector<double> peerRuns;
    for (int round = 0; round < 7; ++round) {
        programRuns.push_back(runMs(QStringLiteral(CLIPVAULT_CLI), program));
        startUpRuns.push_back(runMs(QStringLiteral(CLIPVAULT_CLI), startUp));
        peerRuns.push_back(runMs(curl, peer));
    }
    const auto failed = [](const std::vector<double>& runs) {
        return std::any_of(runs.begin(), runs.end(), [](double ms) { return ms < 0; });
    };
    if (failed(programRuns) || failed(startUpRuns) || failed(peerRuns)) {
        std::printf("  a run failed: skipped\n");
        return;
    }
    const double programMs = median(programRuns);
    const double fetchMs = programMs - median(startUpRuns);
    const double peerMs = median(peerRuns);
    std::printf("  clipvault-cli capture --seconds 0 %7.1f ms, the fetch alone %7.1f ms | one curl "
                "process %7.1f ms: %.2f x whole, %.2f x the fetch alone (target <= 1.2)\n",
                programMs, fetchMs, peerMs, programMs / peerMs, fetchMs / peerMs);
}
