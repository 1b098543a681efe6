// make bench: every figure is measured beside a peer in the same run (reading or writing the
// same bytes plainly), and the ratios are printed at the end.

#include "benchfixtures.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include <QApplication>
#include <QStandardPaths>

namespace {

/// Keeps each benchmark's real time per iteration for the ratio table.
class RatioReporter final : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration)
                m_seconds[run.run_name.function_name +
                          (run.run_name.args.empty() ? std::string() : "/" + run.run_name.args)] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double seconds(const std::string& name) const
    {
        const auto it = m_seconds.find(name);
        return it == m_seconds.end() ? -1 : it->second;
    }

private:
    std::map<std::string, double> m_seconds;
};

void printRatio(const RatioReporter& reporter, const char* what, const char* name, const char* peer,
                double targetRatio, double targetSeconds)
{
    const double seconds = reporter.seconds(name);
    const double peerSeconds = reporter.seconds(peer);
    if (seconds < 0)
        return;
    std::printf("%-44s %9.1f ms", what, seconds * 1e3);
    if (targetSeconds > 0)
        std::printf("  (target <= %.0f ms)", targetSeconds * 1e3);
    if (peerSeconds > 0)
        std::printf("  %5.2f x %s (target <= %.1f x)", seconds / peerSeconds, peer, targetRatio);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's notices would bury the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type >= QtCriticalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QStandardPaths::setTestModeEnabled(true);
    qputenv("CLIPVAULT_ARCHIVE_URL", "http://127.0.0.1:9"); // never the real archive
    qputenv("CLIPVAULT_SHARE_DIR", CLIPVAULT_BUILD_SHARE_DIR);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nFigures:\n");
    printRatio(reporter, "save the items log", "SaveItems", "WriteLogBytes", 4, 0);
    printRatio(reporter, "RefreshItemList (select a 100 000-item node)", "RefreshItemList", "", 0,
               0.05);
    printRatio(reporter, "start-up to a built main window", "MainWindowStartUp", "", 0, 1.0);
    const double oneMiB = reporter.seconds("ScanBlankRuns/1");
    const double fourMiB = reporter.seconds("ScanBlankRuns/4");
    if (oneMiB > 0 && fourMiB > 0)
        std::printf("scan \".swf\" and blank runs, 4 MB / 1 MB   %9.2f x time (linear: 4)\n",
                    fourMiB / oneMiB);
    if (const double list = reporter.seconds("ListCache"); list > 0)
        std::printf("list a 20 000-entry cache (warm)         %9.1f ms  %6.0f entries/s (target >= "
                    "50 000)\n",
                    list * 1e3, 20000 / list);
    // CLIPVAULT_BENCH_ONLY=scan,download runs only the comparisons named (while working on one).
    const QStringList only =
        QString::fromLocal8Bit(qgetenv("CLIPVAULT_BENCH_ONLY")).split(u',', Qt::SkipEmptyParts);
    const std::pair<const char*, void (*)()> comparisons[] = {
        {"scan", RunScanComparison},
        {"catalogue", RunCatalogueLoadComparison},
        {"frametree", RunFrameTreeComparison},
        {"download", RunDownloadComparison},
        {"pointer", RunPointerComparison},
        {"tabmovies", RunTabMoviesComparison},
        {"capture", RunCaptureComparison},
        {"archive", RunArchiveListComparison},
        {"firstframe", RunFirstFrameComparison},
        {"handoff", RunHandOffComparison},
        {"select", RunSelectItemComparison},
        {"companion", RunCompanionComparison},
        {"pictures", RunPicturesComparison},
        {"import", RunImportComparison},
        {"gallery", RunGalleryScrollComparison},
    };
    for (const auto& [name, run] : comparisons) {
        if (only.isEmpty() || only.contains(QLatin1String(name)))
            run();
    }
    benchmark::Shutdown();
    return 0;
}
