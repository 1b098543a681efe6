#pragma once

#include <QString>

/// The folder that holds the catalogue logs, the options file and clipvault.conf:
/// CLIPVAULT_HOME when set; else the program's own folder when it already holds the options file
/// or a log (a portable install); else $XDG_DATA_HOME/clipvault. Always ends without "/".
QString ResolveDataFolder(const QString& programFolder);

/// The options file in a data folder.
QString OptionsFilePath(const QString& dataFolder);

/// The browser debugging port set in clipvault.conf ("debuggingPort"), 0 when none is set.
quint16 ConfiguredDebuggingPort(const QString& dataFolder);
