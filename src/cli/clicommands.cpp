#include "clicommands.h"

#include "background.h"
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
        {"catalogue list", "catalogue list [--search TEXT [--inside]] [--json]",
         "the items, one a line (tab, line break and\nbackslash in a field written \\t \\n \\r "
         "\\\\);\nwith --search, those whose name, address or\ncomment holds TEXT (--inside: "
         "or what is\ninside the movie)",
         RunCatalogue},
        {"catalogue categories", "catalogue categories [--json]", "the categories, one a line",
         RunCatalogue},
        {"catalogue count", "catalogue count", "number of items and categories", RunCatalogue},
        {"catalogue add", "catalogue add URL [--category NAME] [--replace]",
         "files an http or https address (or one without\na scheme) that names a movie",
         RunCatalogue},
        {"catalogue remove", "catalogue remove URL", "takes the item out (its file stays)",
         RunCatalogue},
        {"catalogue category add", "catalogue category add NAME [--folder DIR]",
         "a new category, its folder made", RunCatalogue},
        {"catalogue category remove", "catalogue category remove NAME",
         "a category of your own (its items keep it)", RunCatalogue},
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
        {"import", "import PATH [--category NAME] [--copy] [--json]",
         "the Flash movies of a folder, a zip, a Ruffle\nbundle or a curation folder, as "
         "downloaded items\n(a movie already catalogued is counted the same);\nwhile Clip Vault "
         "runs, it imports them",
         RunImport},
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
         "the movies in the browsers' caches, one a line", RunCacheList},
        {"cache extract", "cache extract [--dir DIR] URL OUTFILE", "the cached body of an address",
         RunCacheExtract},
        {"swf-info", "swf-info FILE [--json]", "a movie's version, frame size, rate and frames",
         RunSwfInfo},
        {"picture", "picture FILE OUT.png",
         "the movie as it shows after playing a second, drawn\nby the program's player (256 px "
         "on its long side)",
         RunPicture},
        {"browser connect", "browser connect [--browser chromium|chrome|firefox] [--profile DIR]",
         "lets the browser's Clip Vault extension reach the\nprogram: writes the host "
         "manifests and says where",
         RunBrowserConnect},
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

/// What each option does, for a command's --help.
struct OptionHelp
{
    const char* option; ///< as a usage line writes it
    const char* text;
};

constexpr OptionHelp kOptionHelp[] = {
    {"--json", "one JSON document on stdout instead of lines"},
    {"--search TEXT", "only the items that hold TEXT, case ignored"},
    {"--inside", "search inside the movies too: their texts, labels, names, titles"},
    {"--category NAME", "the category to file under (default: Downloaded)"},
    {"--copy", "copy the movies into the category's folder (an archive's always are)"},
    {"--replace", "replace the item of the same address"},
    {"--folder DIR", "the category's folder (default: ~/clipvault/NAME/)"},
    {"--any", "keep any reply, also one that is no Flash movie"},
    {"--no-archive", "never ask the web archive for a movie whose address is gone"},
    {"--into DIR", "write the site's layout under DIR instead of filing the movie"},
    {"--seconds N", "play the movie N seconds, keeping what it asks for (default 10; 0: no play)"},
    {"--ruffle-bundle FILE", "write a Ruffle bundle (.zip) of the movie and its files"},
    {"--curation DIR", "write a curation folder for a preservation archive"},
    {"--no-cache", "leave out the movies of the browser's cache"},
    {"--base URL", "the page's address, which relative references resolve against"},
    {"--browser", "which browsers: every kind by default, or the one named"},
    {"--profile DIR", "a Chromium-family browser started with --user-data-dir=DIR"},
    {"--dir DIR", "a profile or cache folder to read instead of those found"},
    {"--all", "every entry's full address, not only movies"},
    {"--host TEXT", "only addresses whose host holds TEXT"},
};

/// The options a command's usage names, each with what it does, and those every command takes.
QString optionsHelp(const Command& command)
{
    const QString usage = QLatin1String(command.usage);
    QString text = QStringLiteral("options:\n");
    const auto add = [&](const QString& option, const QString& what) {
        text += QStringLiteral("  ") + option.leftJustified(22) + u' ' + what + u'\n';
    };
    for (const OptionHelp& help : kOptionHelp) {
        const QString option = QLatin1String(help.option);
        if (usage.contains(option.section(u' ', 0, 0) + u' ') ||
            usage.contains(option.section(u' ', 0, 0) + u']') || usage.endsWith(option))
            add(option, QLatin1String(help.text));
    }
    add(QStringLiteral("--data-dir DIR"), QStringLiteral("the data folder to use instead of the "
                                                         "program's"));
    add(QStringLiteral("-h, --help"), QStringLiteral("this text"));
    return text;
}

/// The words a command's usage asks for after its name ("URL", "FILE"), without its options.
QStringList argumentsOf(const Command& command)
{
    QStringList arguments;
    const QStringList usage = QString::fromLatin1(command.usage).split(u' ');
    for (qsizetype i = command.words().size(); i < usage.size(); ++i) {
        if (usage[i].startsWith(u'[') || usage[i].startsWith(u'-'))
            break;
        arguments << usage[i];
    }
    return arguments;
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

/// Text as a manual page's line shows it: its dashes and backslashes written out, and no line
/// that would read as a request.
QString roff(QString text)
{
    text.replace(u'\\', QStringLiteral("\\e")).replace(u'-', QStringLiteral("\\-"));
    text.replace(QStringLiteral("\n."), QStringLiteral("\n\\&."))
        .replace(QStringLiteral("\n'"), QStringLiteral("\n\\&'"));
    return text.startsWith(u'.') || text.startsWith(u'\'') ? QStringLiteral("\\&") + text : text;
}

/// The manual page of clipvault-cli, its commands and options those of this table and of
/// --help, so that it never lags the program.
QString manPage()
{
    QString page =
        QStringLiteral(
            ".TH CLIPVAULT-CLI 1 \"%1\" \"clipvault %2\" \"User Commands\"\n"
            ".SH NAME\n"
            "clipvault-cli \\- Clip Vault's catalogue, downloads and detection for scripts\n"
            ".SH SYNOPSIS\n"
            ".B clipvault-cli\n"
            ".RB [ \\-\\-data\\-dir\n.IR DIR ]\n.I COMMAND\n.br\n"
            ".B clipvault-cli \\-\\-version\n.br\n"
            ".B clipvault-cli\n.RI [ COMMAND ]\n.B \\-\\-help\n"
            ".SH DESCRIPTION\n"
            "The command line of Clip Vault, a collector of Flash movies. While Clip Vault runs on "
            "the "
            "same data folder, the commands that change its catalogue (import, catalogue add and "
            "remove, catalogue category add and remove) are handed to it, and answered once the "
            "change is on disk.\n"
            ".SH COMMANDS\n")
            .arg(QStringLiteral("December 2026"), QStringLiteral(CLIPVAULT_VERSION));
    for (const Command& command : commandTable()) {
        page += QStringLiteral(".TP\n.B ") + roff(QLatin1String(command.usage)) + u'\n';
        const QString description =
            QString::fromLatin1(command.description).replace(u'\n', u' ').simplified();
        page += roff(description) + u'\n';
    }
    page += QStringLiteral(".SH OPTIONS\n");
    for (const OptionHelp& help : kOptionHelp)
        page += QStringLiteral(".TP\n.B ") + roff(QLatin1String(help.option)) + u'\n' +
                roff(QLatin1String(help.text)) + u'\n';
    page +=
        QStringLiteral(".TP\n.B \\-\\-data\\-dir DIR\nthe data folder to use instead of the "
                       "program's\n"
                       ".SH EXIT STATUS\n0 success, 1 failure, 2 bad usage.\n"
                       ".SH SEE ALSO\n.BR clipvault (1),\n.BR clipvault\\-browser\\-host (1)\n");
    return page;
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

int UsageError(const CommandLine& line, QTextStream& err, const QString& problem)
{
    const Command* command = commandOf(line.words);
    QString said = problem;
    QStringList next; // the words that may follow a family's name
    if (said.isEmpty() && !command) {
        for (const Command& known : commandTable()) {
            const QStringList words = known.words();
            if (line.words.size() == 1 && words.size() > 1 && words[0] == line.words[0] &&
                !next.contains(words[1]))
                next << words[1];
        }
        said = line.words.isEmpty() ? QStringLiteral("no command given")
               : !next.isEmpty()
                   ? QStringLiteral("%1 needs one of: %2").arg(line.words[0], next.join(u", "))
                   : QStringLiteral("unknown command \"%1\"").arg(line.words.join(u' '));
    } else if (said.isEmpty()) {
        const QStringList wanted = argumentsOf(*command);
        const qsizetype given = line.words.size() - command->words().size();
        said = given < wanted.size()
                   ? QStringLiteral("%1: %2 missing")
                         .arg(QLatin1String(command->name), wanted.mid(given).join(u' '))
                   : QStringLiteral("%1: unexpected \"%2\"")
                         .arg(QLatin1String(command->name),
                              line.words.mid(command->words().size() + wanted.size()).join(u' '));
    }
    const QStringList scope = command          ? command->words()
                              : next.isEmpty() ? QStringList()
                                               : line.words.mid(0, 1);
    err << "clipvault-cli: " << said << '\n' << usageOf(scope);
    return kUsage;
}

} // namespace cli

int RunCli(const QStringList& arguments, QTextStream& out, QTextStream& err, const QString& gone)
{
    using namespace cli;
    if (arguments == QStringList{QStringLiteral("--version")}) {
        out << "clipvault-cli " << CLIPVAULT_VERSION << '\n';
        return kOk;
    }
    // The build writes the manual page with it.
    if (arguments == QStringList{QStringLiteral("--man-page")}) {
        out << manPage();
        return kOk;
    }
    QString problem;
    std::optional<CommandLine> line = ParseCommandLine(arguments, problem);
    if (!line) {
        err << "clipvault-cli: " << problem << '\n' << usageOf({});
        return kUsage;
    }
    if (line->help) {
        // The usage of the command named, or of every command its words begin.
        const Command* command = commandOf(line->words);
        out << usageOf(command ? command->words() : line->words.mid(0, 1));
        if (command)
            out << optionsHelp(*command);
        return kOk;
    }
    if (line->version) {
        err << "clipvault-cli: --version stands alone\n" << usageOf({});
        return kUsage;
    }
    line->goneAlready = gone;
    const Command* command = commandOf(line->words);
    const int code = command ? command->run(*line, out, err) : UsageError(*line, err);
    // Work a command left running (an archive's answer nobody waits for) ends with it.
    Background::finish();
    return code;
}
