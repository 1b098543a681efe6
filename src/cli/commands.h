#pragma once

#include "cacheenumerator.h"

#include <QList>

#include <optional>

class QTextStream;

// The commands of clipvault-cli, by family; each takes its command line and returns its exit code.
namespace cli {

struct CommandLine;

/// catalogue list | categories | count | add | remove (cataloguecommands.cpp)
int RunCatalogue(const CommandLine& line, QTextStream& out, QTextStream& err);
/// capture, export (capturecommands.cpp)
int RunCapture(const CommandLine& line, QTextStream& out, QTextStream& err);
int RunExport(const CommandLine& line, QTextStream& out, QTextStream& err);
/// download, swf-info (moviecommands.cpp)
int RunDownload(const CommandLine& line, QTextStream& out, QTextStream& err);
int RunSwfInfo(const CommandLine& line, QTextStream& out, QTextStream& err);
/// picture (moviecommands.cpp)
int RunPicture(const CommandLine& line, QTextStream& out, QTextStream& err);
/// Draws the movie's picture into the PNG `out` with the program's picture helper, waiting for
/// it; false with the reason in `error`.
bool DrawPicture(const QString& movie, const QString& out, QString* error);
/// archive list (moviecommands.cpp)
int RunArchive(const CommandLine& line, QTextStream& out, QTextStream& err);
/// scan-html, scan-frames, detect (pagecommands.cpp)
int RunScan(const CommandLine& line, QTextStream& out, QTextStream& err);
int RunDetect(const CommandLine& line, QTextStream& out, QTextStream& err);
/// cache list, cache extract (cachecommands.cpp)
int RunCacheList(const CommandLine& line, QTextStream& out, QTextStream& err);
int RunCacheExtract(const CommandLine& line, QTextStream& out, QTextStream& err);
/// import (importcommands.cpp)
int RunImport(const CommandLine& line, QTextStream& out, QTextStream& err);
/// browser connect (connectcommands.cpp)
int RunBrowserConnect(const CommandLine& line, QTextStream& out, QTextStream& err);
/// browser status, browser at (browsercommands.cpp)
int RunBrowser(const CommandLine& line, QTextStream& out, QTextStream& err);

/// The caches a cache command or the detection reads: --dir, else the user's; --browser picks
/// a kind. Nothing after a usage error.
std::optional<QList<CacheLocation>> CacheLocations(const CommandLine& line, QTextStream& err);

} // namespace cli
