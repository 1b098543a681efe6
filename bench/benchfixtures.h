#pragma once

#include <QString>

#include <string>
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

/// The best of `runs` runs of a program, each a child process of its own.
ChildRun BestChildRun(const std::vector<std::string>& arguments, int runs = 3);

/// Times the detection of a 200-page frame tree against curl fetching the same pages.
void RunFrameTreeComparison();

/// Times downloads by the program's component against curl and prints the figures.
void RunDownloadComparison();

/// Times grep -oiE on the dense and the sparse page and prints it beside the scanner's times.
void PrintGrepComparison(double scanSeconds, double sparseSeconds);

/// Times the shortcut bar's question to a headless browser over 1 000 points and watches the
/// event loop meanwhile, and while a debugging port never answers.
void RunPointerComparison();
/// The tab's movies of a page of 50 frames against a minimal client (bench_tabmovies.cpp).
void RunTabMoviesComparison();
/// A static capture of a movie naming 50 files against curl fetching them (bench_capture.cpp).
void RunCaptureComparison();
/// Listing a site's 10 000 archived movies against the time the pacing requires.
void RunArchiveListComparison();
