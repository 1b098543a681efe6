#pragma once

#include <QString>

/// Where the program's shared files are: share/clipvault beside the installed program, or the
/// build's own share folder when run from the build tree.
namespace PlayerFiles {
/// The folder holding ruffle.js and its files.
QString ruffleFolder();
/// The movie the preview shows when nothing is selected.
QString noneMovie();
} // namespace PlayerFiles
