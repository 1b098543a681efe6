#include "clicommands.h"

#include "commandline.h"
#include "commands.h"

#include <QTextStream>

namespace cli {

namespace {

using Handler = int (*)(const CommandLine& line, QTextStream& out, QTextStream& err);

/// One command: the words that name it, how it is written, what it does, and who runs it.
struct Command
{
    const char* name; ///< its words, separated by one blank
    QStringList words() const { return QString::fromLatin1(name).split(u' '); }
    const char* usage;
    const char* description; ///< lines separated by "\n"
    Handler run;
};

const QList<Command>& commandTable()
{
    static const QList<Command> table = {
        {"catalogue list", "catalogue list [--json]",
         "the items, one a line (tab, line break and\nbackslash in a field written \\t \\n \\r "
         "\\\\)",
         RunCatalogue},
        {"catalogue categories", "catalogue categories [--json]", "the categories, one a line",
         RunCatalogue},
        {"catalogue count", "catalogue count", "number of items and categories", RunCatalogue},
        {"catalogue add", "catalogue add URL [--category NAME] [--replace]", "", RunCatalogue},
        {"catalogue remove", "catalogue remove URL", "", RunCatalogue},
        {"download", "download URL FILE [--any] [--no-archive]",
         "one transfer as the program makes it; prints the size\n(--any: also a reply that is "
         "no Flash movie; a movie\nwhose address is gone comes from the web archive\nunless "
         "--no-archive)",
         RunDownload},
        {"archive list", "archive list URL [--json]",
         "the Flash movies the web archive holds under an\naddress: address<TAB>timestamp<TAB>"
         "length",
         RunArchive},
        {"capture", "capture URL [--into DIR] [--seconds N] [--json] [--category NAME]",
         "a movie with the files it loads (named in its code,\nasked for while it plays N "
         "seconds, 0: none):\naddress<TAB>path<TAB>size; without --into it is\nadded to the "
         "catalogue",
         RunCapture},
        {"export", "export URL --ruffle-bundle FILE | --curation DIR",
         "a downloaded item with its kept files, for Ruffle's\nplayer or a preservation "
         "archive",
         RunExport},
        {"detect", "detect URL [--no-cache] [--json]",
         "the movies of a page, its frames and the site's\ncached movies: address<TAB>save-as "
         "name",
         RunDetect},
        {"scan-html", "scan-html --base URL [FILE|-]", "movie addresses of a page, one a line",
         RunScan},
        {"scan-frames", "scan-frames --base URL [FILE|-]",
         "inline frame page addresses, one a line", RunScan},
        {"cache list",
         "cache list [--browser auto|chromium|firefox] [--dir DIR] [--all] [--host TEXT] "
         "[--json]",
         "", RunCacheList},
        {"cache extract", "cache extract [--dir DIR] URL OUTFILE", "the cached body of an address",
         RunCacheExtract},
        {"swf-info", "swf-info FILE [--json]", "a movie's version, frame size, rate and frames",
         RunSwfInfo},
        {"browser status", "browser status", "browser window, debugging endpoint, visible tab",
         RunBrowser},
        {"browser at", "browser at X Y [--json]", "the Flash movie under a screen point",
         RunBrowser},
        {"browser movies", "browser movies [--json]",
         "every Flash movie of the visible tab: address<TAB>how\nit was seen<TAB>its frame",
         RunBrowser},
    };
    return table;
}

/// The usage lines of the commands whose words begin with `words` (all for none).
QString usageOf(const QStringList& words)
{
    constexpr int kColumn = 37;
    QString text = QStringLiteral("usage: clipvault-cli [--data-dir DIR] COMMAND\n"
                                  "       clipvault-cli --version\n"
                                  "       clipvault-cli [COMMAND] --help\n");
    for (const Command& command : commandTable()) {
        if (command.words().mid(0, words.size()) != words.mid(0, command.words().size()))
            continue;
        QString line = QStringLiteral("  ") + QLatin1String(command.usage);
        const QStringList description = QString::fromLatin1(command.description).split(u'\n');
        for (const QString& part : description) {
            if (part.isEmpty())
                continue;
            if (line.size() >= kColumn) {
                text += line + u'\n';
                line.clear();
            }
            text += line.leftJustified(kColumn) + part + u'\n';
            line.clear();
        }
        if (!line.isEmpty())
            text += line + u'\n';
    }
    return text;
}

/// The command the words name: the one whose words begin them, the longest such.
const Command* commandOf(const QStringList& words)
{
    const Command* found = nullptr;
    for (const Command& command : commandTable()) {
        if (words.mid(0, command.words().size()) == command.words() &&
            (!found || command.words().size() > found->words().size()))
            found = &command;
    }
    return found;
}

} // namespace

int UsageError(const CommandLine& line, QTextStream& err)
{
    const Command* command = commandOf(line.words);
    err << usageOf(command ? command->words() : QStringList());
    return kUsage;
}

} // namespace cli

int RunCli(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    using namespace cli;
    if (arguments == QStringList{QStringLiteral("--version")}) {
        out << "clipvault-cli " << CLIPVAULT_VERSION << '\n';
        return kOk;
    }
    QString problem;
    const std::optional<CommandLine> line = ParseCommandLine(arguments, problem);
    if (!line) {
        err << "clipvault-cli: " << problem << '\n' << usageOf({});
        return kUsage;
    }
    if (line->help) {
        // The usage of the command named, or of every command its words begin.
        const Command* command = commandOf(line->words);
        out << usageOf(command ? command->words() : line->words.mid(0, 1));
        return kOk;
    }
    const Command* command = line->version ? nullptr : commandOf(line->words);
    if (!command) {
        err << usageOf({});
        return kUsage;
    }
    return command->run(*line, out, err);
}
