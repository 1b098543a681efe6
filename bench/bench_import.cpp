// An import of 10 000 movie files (2 GB) by clipvault-cli, as a process end to end (the tree
// walked, every file read and hashed, the items filed and saved), against sha256sum over the same
// files; and the import's peak memory. Each import starts from an empty data folder of its own,
// and the files are read from the page cache by both alike.

#include "benchfixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

namespace {

constexpr int kFolders = 100;
constexpr int kPerFolder = 100;
constexpr qsizetype kMovieBytes = 200 * 1024;

/// The movies: a Flash header and bytes of their own, so that each has its own SHA-256.
std::vector<std::string> writeMovies(const QString& root)
{
    std::vector<std::string> files;
    std::mt19937_64 random(38);
    QByteArray bytes(kMovieBytes, Qt::Uninitialized);
    for (int folder = 0; folder < kFolders; ++folder) {
        const QString dir = QDir(root).filePath(QStringLiteral("set%1").arg(folder));
        QDir().mkpath(dir);
        for (int i = 0; i < kPerFolder; ++i) {
            auto* words = reinterpret_cast<std::uint64_t*>(bytes.data());
            for (qsizetype w = 0; w < kMovieBytes / 8; ++w)
                words[w] = random();
            std::memcpy(bytes.data(), "FWS\x0a", 4);
            const QString file = QDir(dir).filePath(QStringLiteral("movie%1.swf").arg(i));
            QFile out(file);
            if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != kMovieBytes)
                return {};
            files.push_back(file.toStdString());
        }
    }
    return files;
}

} // namespace

void RunImportComparison()
{
    std::printf("\nImport of %d movie files (%lld MB), as a process:\n", kFolders * kPerFolder,
                static_cast<long long>(kFolders) * kPerFolder * kMovieBytes / 1000000);
    QTemporaryDir root;
    const QString movies = QDir(root.path()).filePath(QStringLiteral("movies"));
    const std::vector<std::string> files = writeMovies(movies);
    if (files.empty()) {
        std::printf("  the movies could not be written: skipped\n");
        return;
    }
    std::vector<std::string> peer{"sha256sum"};
    peer.insert(peer.end(), files.begin(), files.end());
    ChildRun ours;
    ChildRun sums;
    for (int round = 0; round < 3; ++round) {
        const QString data = QDir(root.path()).filePath(QStringLiteral("data%1").arg(round));
        const ChildRun run = BestChildRun({CLIPVAULT_CLI, "--data-dir", data.toStdString(),
                                           "import", movies.toStdString(), "--json"},
                                          1);
        if (run.ok && (!ours.ok || run.seconds < ours.seconds))
            ours = run;
        ours.peakKiB = std::max(ours.peakKiB, run.peakKiB);
        const ChildRun sum = BestChildRun(peer, 1, {"/dev/null", false, {}});
        if (sum.ok && (!sums.ok || sum.seconds < sums.seconds))
            sums = sum;
    }
    if (!ours.ok || !sums.ok) {
        std::printf("  a run failed: skipped\n");
        return;
    }
    std::printf("  clipvault-cli import %7.0f ms, peak %5.1f MB (target <= 100) | sha256sum %7.0f "
                "ms: %.2f x sha256sum's speed (target >= 0.8)\n",
                ours.seconds * 1e3, ours.peakKiB / 1024.0, sums.seconds * 1e3,
                sums.seconds / ours.seconds);
}
