#pragma once

#include "exitcodes.h"

#include <QString>
#include <QStringList>

#include <optional>

class QTextStream;

// The command line of clipvault-cli as its commands see it, and what they share.
namespace cli {

/// The command line split into words and options; options may stand anywhere.
struct CommandLine
{
    QStringList words;
    QString dataDir;
    QString category;
    QString base;
    QString browser = QStringLiteral("auto");
    QString dir;
    QString host;
    QString into;
    QString folder;
    QString profile;
    QString ruffleBundle;
    QString curation;
    QString seconds; ///< as written; the command that takes it reads it
    QString search;  ///< what `catalogue list` looks for
    bool inside = false;
    bool copy = false;
    bool all = false;
    bool json = false;
    bool replace = false;
    bool noCache = false;
    bool any = false;
    bool noArchive = false;
    bool help = false;
    bool version = false;
    /// The launcher's plain download found the address gone, for this reason: not asked again.
    QString goneAlready;
};

/// Splits the arguments (without the program name) into words and options; options may stand
/// before, between or after the words. Nothing, with `problem` set, for an unknown option or an
/// option without its value.
std::optional<CommandLine> ParseCommandLine(const QStringList& arguments, QString& problem);

/// The data folder: --data-dir, else the one the program would use.
QString DataFolderOf(const CommandLine& line);

/// Writes what is wrong with the line in one line (`problem`, or else what its words lack or
/// have too many of), then how the command it names is used, to `err`; returns kUsage.
int UsageError(const CommandLine& line, QTextStream& err, const QString& problem = {});

} // namespace cli
