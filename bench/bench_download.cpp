// Downloads of 10 MiB and 1 GiB over loopback: the program's download component (through
// clipvault-cli) against curl -o, each a child process so that its peak memory is its own.

#include "benchfixtures.h"

#include "testserver.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

/// The high-water mark of a running process's own memory (after exec), in KiB; 0 when gone.
long highWaterKiB(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

// The child is spawned, not forked, so that the bench's own large memory costs it nothing. Its
// peak memory is read from /proc while it runs: the rusage of a child counts more than its own.
ChildRun runChild(const std::vector<std::string>& arguments, const ChildOutput& output)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::fflush(stdout);
    ChildRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    if (output.watchMemory) {
        // The mark only grows within one program; the last reading is its peak.
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (const long mark = highWaterKiB(pid); mark > 0)
                run.peakKiB = mark;
            ::usleep(2000);
        }
    } else {
        ::waitpid(pid, &status, 0);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!output.leftFile.empty())
        std::remove(output.leftFile.c_str());
    return run;
}

} // namespace

ChildRun BestChildRun(const std::vector<std::string>& arguments, int runs,
                      const ChildOutput& output)
{
    ChildRun result;
    for (int i = 0; i < runs; ++i) {
        const ChildRun run = runChild(arguments, output);
        if (!run.ok)
            return run;
        if (!result.ok || run.seconds < result.seconds)
            result = run;
    }
    return result;
}

namespace {

/// Every run of each program, running them in turn `rounds` times; nothing once one fails.
std::vector<std::vector<ChildRun>> runsInTurn(const std::vector<std::vector<std::string>>& programs,
                                              const ChildOutput& output, int rounds)
{
    ChildOutput timedOnly = output;
    timedOnly.watchMemory = false;
    std::vector<std::vector<ChildRun>> runs(programs.size());
    for (int i = 0; i < rounds; ++i) {
        for (std::size_t p = 0; p < programs.size(); ++p) {
            const ChildRun run = runChild(programs[p], timedOnly);
            if (!run.ok)
                return {};
            runs[p].push_back(run);
        }
    }
    return runs;
}

/// The run at `rank` (0: the fastest) of each program's runs; failed runs for none.
std::vector<ChildRun> rankedRuns(std::vector<std::vector<ChildRun>> runs, std::size_t programs,
                                 bool median)
{
    if (runs.empty())
        return std::vector<ChildRun>(programs);
    std::vector<ChildRun> picked;
    for (std::vector<ChildRun>& each : runs) {
        std::sort(each.begin(), each.end(),
                  [](const ChildRun& a, const ChildRun& b) { return a.seconds < b.seconds; });
        picked.push_back(each[median ? each.size() / 2 : 0]);
    }
    return picked;
}

} // namespace

std::vector<ChildRun> BestInTurn(const std::vector<std::vector<std::string>>& programs,
                                 const ChildOutput& output, int rounds)
{
    return rankedRuns(runsInTurn(programs, output, rounds), programs.size(), false);
}

std::vector<ChildRun> MedianInTurn(const std::vector<std::vector<std::string>>& programs,
                                   const ChildOutput& output, int rounds)
{
    return rankedRuns(runsInTurn(programs, output, rounds), programs.size(), true);
}

std::pair<ChildRun, ChildRun> BestAlternating(const std::vector<std::string>& program,
                                              const std::vector<std::string>& peer,
                                              const ChildOutput& output, int rounds)
{
    const std::vector<ChildRun> best = BestInTurn({program, peer}, output, rounds);
    return {best[0], best[1]};
}

void RunDownloadComparison()
{
    // Each mebibyte begins as a Flash movie does, so the body passes the program's check.
    static const std::string block = [] {
        std::string bytes(kMiB, 'm');
        bytes.replace(0, 3, "FWS");
        return bytes;
    }();
    TestServer server;
    server.server().Get(R"(/(\d+)m\.swf)", [](const httplib::Request& request,
                                              httplib::Response& response) {
        const std::size_t size = std::stoul(request.matches[1]) * kMiB;
        response.set_content_provider(size, "application/x-shockwave-flash",
                                      [](size_t offset, size_t length, httplib::DataSink& sink) {
                                          const size_t n = std::min(length, kMiB - offset % kMiB);
                                          return sink.write(block.data() + offset % kMiB, n);
                                      });
    });
    server.start();
    QTemporaryDir folder;
    const std::string target =
        QDir(folder.path()).filePath(QStringLiteral("movie.swf")).toStdString();

    // Each run downloads into a new file, as the download of a new movie does. (Replacing a file
    // costs a rename over it here, which makes ext4 write the new file out at once, where curl
    // truncates the old one in place.)
    ChildOutput output;
    output.leftFile = target;
    ChildOutput timedOnly = output;
    timedOnly.watchMemory = false;
    std::printf("\nDownloads over loopback (the median of 15 runs in turn for 10 MiB, of 3 for "
                "1 GiB; memory from a run of its own):\n");
    for (int mebibytes : {10, 1024}) {
        char path[32];
        std::snprintf(path, sizeof path, "/%dm.swf", mebibytes);
        const std::string url = server.url(path);
        const std::vector<std::string> ours = {CLIPVAULT_CLI, "download", url, target};
        const std::vector<std::string> peer = {"curl", "-s", "-o", target, url};
        // A short transfer is over in some 20 ms, where one busy moment of the machine counts:
        // the fastest run of either is one lucky moment, the median is the usual one. Watching
        // the memory every 2 ms would count too.
        const std::vector<ChildRun> timedRuns =
            MedianInTurn({ours, peer}, timedOnly, mebibytes < 100 ? 15 : 3);
        const ChildRun& timed = timedRuns[0];
        const ChildRun& curlTimed = timedRuns[1];
        ChildRun component = BestChildRun(ours, 1, output);
        ChildRun curl = BestChildRun(peer, 1, output);
        component.seconds = timed.seconds;
        curl.seconds = curlTimed.seconds;
        component.ok = component.ok && timed.ok;
        curl.ok = curl.ok && curlTimed.ok;
        if (!component.ok || !curl.ok) {
            std::printf("  %4d MiB: a download failed (component %d, curl %d)\n", mebibytes,
                        component.ok, curl.ok);
            continue;
        }
        const double componentRate = mebibytes / component.seconds;
        const double curlRate = mebibytes / curl.seconds;
        std::printf(
            "  %4d MiB: component %7.0f MiB/s, peak %6ld KiB | curl -o %7.0f MiB/s, peak %6ld KiB"
            " | throughput %.2f x curl (target >= 1.0), peak %+.1f MB over curl (target <= 8)\n",
            mebibytes, componentRate, component.peakKiB, curlRate, curl.peakKiB,
            componentRate / curlRate, (component.peakKiB - curl.peakKiB) * 1024 / 1e6);
    }
}
