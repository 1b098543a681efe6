#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <algorithm>

#include <string>
#include <utility>
#include <vector>

/// A data folder holding a 100 000-item log (63.6 MB) and a category log, made once per run.
const QString& LargeCatalogueFolder();
constexpr int kLargeCatalogueItems = 100000;

/// A child process's run: whether it exited 0, its time and its peak memory.
struct ChildRun
{
    bool ok = false;
    double seconds = 0;
    long peakKiB = 0;
};

/// Where a child's standard output goes, and whether its memory is watched while it runs (which
/// costs a poll every 2 ms, so a short run that is only timed is not watched).
struct ChildOutput
{
    std::string file = "/dev/null";
    bool watchMemory = true;
    /// A file the run writes, removed after it, untimed: each run makes it anew.
    std::string leftFile;
};

/// The best of `runs` runs of a program, each a child process of its own.
ChildRun BestChildRun(const std::vector<std::string>& arguments, int runs = 3,
                      const ChildOutput& output = {});

/// The best run of each program, running them in turn `rounds` times, timed only: a busy moment
/// of the machine then falls on all of them alike.
std::vector<ChildRun> BestInTurn(const std::vector<std::vector<std::string>>& programs,
                                 const ChildOutput& output, int rounds);
/// The same with the median run of each: for runs so short that the fastest of either is one
/// lucky moment.
std::vector<ChildRun> MedianInTurn(const std::vector<std::vector<std::string>>& programs,
                                   const ChildOutput& output, int rounds);
std::pair<ChildRun, ChildRun> BestAlternating(const std::vector<std::string>& program,
                                              const std::vector<std::string>& peer,
                                              const ChildOutput& output, int rounds = 5);

/// Times the detection of a 200-page frame tree against curl fetching the same pages.
void RunFrameTreeComparison();

/// Times downloads by the program's component against curl and prints the figures.
void RunDownloadComparison();

/// The scan of the dense and the sparse page, end to end, against grep -oiE on the same file.
void RunScanComparison();
/// Loading the 100 000-item log, as a process, against cat of the file.
void RunCatalogueLoadComparison();

/// Times the shortcut bar's question to a headless browser over 1 000 points and watches the
/// event loop meanwhile, and while a debugging port never answers.
void RunPointerComparison();
/// The tab's movies of a page of 50 frames against a minimal client (bench_tabmovies.cpp).
void RunTabMoviesComparison();
/// A static capture of a movie naming 50 files against curl fetching them (bench_capture.cpp).
void RunCaptureComparison();
/// Listing a site's 10 000 archived movies against the time the pacing requires.
void RunArchiveListComparison();
/// The first frame of a movie on the screen: a cold `clipvault --play` against a fresh Chromium,
/// and a movie handed to the running program (bench_firstframe.cpp).
void RunFirstFrameComparison();
void RunHandOffComparison();
void RunSelectItemComparison();
/// The browser companion: pointer to bar, choice to item, a plain page's load time.
void RunCompanionComparison();

/// The pictures of 200 movies by the program's helper against a Chromium page per movie.
void RunPicturesComparison();
/// An import of 10 000 movie files, as a process, against sha256sum over the same files.
void RunImportComparison();
/// Scrolling a 10 000-item gallery from top to bottom, the event loop's longest gap.
void RunGalleryScrollComparison();

/// Counts the longest gap between the beats of a timer on the event loop.
class Heartbeat
{
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_sinceBeat.restart()); });
    }
    void start()
    {
        m_longest = 0;
        m_sinceBeat.start();
        m_timer.start(2);
    }
    qint64 stop()
    {
        m_timer.stop();
        return std::max(m_longest, m_sinceBeat.elapsed());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceBeat;
    qint64 m_longest = 0;
};
