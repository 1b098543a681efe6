#pragma once

#include <QString>

/// A data folder holding a 100 000-item log (63.6 MB) and a category log, made once per run.
const QString& LargeCatalogueFolder();
constexpr int kLargeCatalogueItems = 100000;

/// Times downloads by the program's component against curl and prints the figures.
void RunDownloadComparison();

/// Times grep -oiE on the large page and prints it beside the scanner's time.
void PrintGrepComparison(double scanSeconds);
