#pragma once

#include <QString>
#include <QTextStream>

namespace cli {

/// The two page scans: the movie addresses of a page ("scan-html"), or the pages of its inline
/// frames ("scan-frames"), read from `file` ("-": standard input) and made absolute against
/// `base`, one a line. Shared by the tool and the scanner the launcher starts for them, which
/// links Qt's core alone so that it starts as fast as grep. The exit code.
int ScanPage(bool frames, const QString& base, const QString& file, QTextStream& out,
             QTextStream& err);

} // namespace cli
