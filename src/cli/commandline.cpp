#include "commandline.h"

#include "datafolder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

namespace cli {

namespace {

/// The options every command takes; a command ignores those it has no use for.
struct OptionSpec
{
    const char* name;
    const char* valueName; ///< nullptr: a switch
};

constexpr OptionSpec kOptions[] = {
    {"data-dir", "DIR"},     {"category", "NAME"}, {"base", "URL"},           {"browser", "KIND"},
    {"dir", "DIR"},          {"host", "TEXT"},     {"json", nullptr},         {"replace", nullptr},
    {"no-cache", nullptr},   {"all", nullptr},     {"any", nullptr},          {"version", nullptr},
    {"into", "DIR"},         {"seconds", "N"},     {"ruffle-bundle", "FILE"}, {"curation", "DIR"},
    {"no-archive", nullptr}, {"folder", "DIR"},    {"profile", "DIR"},        {"search", "TEXT"},
    {"inside", nullptr},     {"copy", nullptr},
};

} // namespace

std::optional<CommandLine> ParseCommandLine(const QStringList& arguments, QString& problem)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionSpec& spec : kOptions) {
        parser.addOption(spec.valueName ? QCommandLineOption(QLatin1String(spec.name), QString(),
                                                             QLatin1String(spec.valueName))
                                        : QCommandLineOption(QLatin1String(spec.name)));
    }
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    if (!parser.parse(QStringList{QStringLiteral("clipvault-cli")} + arguments)) {
        problem = parser.errorText();
        return std::nullopt;
    }
    CommandLine line;
    line.words = parser.positionalArguments();
    const auto text = [&](const char* name, QString& target) {
        if (parser.isSet(QLatin1String(name)))
            target = parser.value(QLatin1String(name));
    };
    text("data-dir", line.dataDir);
    text("category", line.category);
    text("base", line.base);
    text("browser", line.browser);
    text("dir", line.dir);
    text("host", line.host);
    text("into", line.into);
    text("folder", line.folder);
    text("profile", line.profile);
    text("ruffle-bundle", line.ruffleBundle);
    text("curation", line.curation);
    text("seconds", line.seconds);
    text("search", line.search);
    line.inside = parser.isSet(QStringLiteral("inside"));
    line.copy = parser.isSet(QStringLiteral("copy"));
    line.json = parser.isSet(QStringLiteral("json"));
    line.replace = parser.isSet(QStringLiteral("replace"));
    line.noCache = parser.isSet(QStringLiteral("no-cache"));
    line.all = parser.isSet(QStringLiteral("all"));
    line.any = parser.isSet(QStringLiteral("any"));
    line.noArchive = parser.isSet(QStringLiteral("no-archive"));
    line.help = parser.isSet(QStringLiteral("help"));
    line.version = parser.isSet(QStringLiteral("version"));
    return line;
}

/// The data folder: --data-dir, else the one the program would use.
QString DataFolderOf(const CommandLine& line)
{
    return line.dataDir.isEmpty() ? ResolveDataFolder(ProgramFolder())
                                  : QDir(line.dataDir).absolutePath();
}

} // namespace cli
