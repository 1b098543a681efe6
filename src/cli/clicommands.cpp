#include "clicommands.h"

#include "cacheenumerator.h"
#include "catalogue.h"
#include "cataloguestore.h"
#include "browsercommands.h"
#include "cachepass.h"
#include "datafolder.h"
#include "htmlscan.h"
#include "pagecharset.h"
#include "pagedetection.h"
#include "httpget.h"
#include "swfinfo.h"
#include "userprompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <QTextStream>

#include <atomic>
#include <optional>

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
/// How long a change waits for another change of the same folder to end.
constexpr int kBusyWaitMs = 3000;
/// The largest page the scan commands read.
constexpr qsizetype kMaxPageBytes = qsizetype(64) << 20;

const char kUsageText[] =
    "usage: clipvault-cli [--data-dir DIR] COMMAND\n"
    "       clipvault-cli --version\n"
    "       clipvault-cli [COMMAND] --help\n"
    "  catalogue list [--json]              the items, one a line (tab, line break and\n"
    "                                       backslash in a field written \\t \\n \\r \\\\)\n"
    "  catalogue categories [--json]        the categories, one a line\n"
    "  catalogue count                      number of items and categories\n"
    "  catalogue add URL [--category NAME] [--replace]\n"
    "  catalogue remove URL\n"
    "  download URL FILE [--any]            one transfer as the program makes it; prints the size\n"
    "                                       (--any: also a reply that is no Flash movie)\n"
    "  detect URL [--no-cache] [--json]     the movies of a page, its frames and the site's\n"
    "                                       cached movies: address<TAB>save-as name\n"
    "  scan-html --base URL [FILE|-]        movie addresses of a page, one a line\n"
    "  scan-frames --base URL [FILE|-]      inline frame page addresses, one a line\n"
    "  cache list [--browser auto|chromium|firefox] [--dir DIR] [--all] [--host TEXT] [--json]\n"
    "  cache extract [--dir DIR] URL OUTFILE   the cached body of an address\n"
    "  swf-info FILE [--json]               a movie's version, frame size, rate and frames\n"
    "  browser status                       browser window, debugging endpoint, visible tab\n"
    "  browser at X Y [--json]              the Flash movie under a screen point\n";

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
    bool all = false;
    bool json = false;
    bool replace = false;
    bool noCache = false;
    bool any = false;
    bool help = false;
};

std::optional<CommandLine> parse(const QStringList& arguments, QString& problem)
{
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size()) {
                problem = argument + QStringLiteral(" needs a value");
                return std::nullopt;
            }
            return arguments[++i];
        };
        if (argument == u"--json") {
            line.json = true;
        } else if (argument == u"--replace") {
            line.replace = true;
        } else if (argument == u"--data-dir") {
            const auto v = value();
            if (!v)
                return std::nullopt;
            line.dataDir = *v;
        } else if (argument == u"--no-cache") {
            line.noCache = true;
        } else if (argument == u"--all") {
            line.all = true;
        } else if (argument == u"--any") {
            line.any = true;
        } else if (argument == u"--help" || argument == u"-h") {
            line.help = true;
        } else if (argument == u"--category" || argument == u"--base" || argument == u"--browser" ||
                   argument == u"--dir" || argument == u"--host") {
            const auto v = value();
            if (!v)
                return std::nullopt;
            QString& target = argument == u"--category"  ? line.category
                              : argument == u"--base"    ? line.base
                              : argument == u"--browser" ? line.browser
                              : argument == u"--dir"     ? line.dir
                                                         : line.host;
            target = *v;
        } else if (argument.startsWith(QStringLiteral("--"))) {
            problem = QStringLiteral("unknown option ") + argument;
            return std::nullopt;
        } else {
            line.words << argument;
        }
    }
    return line;
}

/// The data folder: --data-dir, else the one the program would use.
QString dataFolderOf(const CommandLine& line)
{
    return line.dataDir.isEmpty() ? ResolveDataFolder(QCoreApplication::applicationDirPath())
                                  : QDir(line.dataDir).absolutePath();
}

/// Never asks anyone: a duplicate URL is replaced only when the command line says so, and
/// notices go to the error stream.
class CliPrompt final : public UserPrompt
{
public:
    explicit CliPrompt(QTextStream& err)
        : m_err(err)
    {
    }
    void setAnswer(bool yes) { m_answer = yes; }
    bool ask(const QString&, const QString&) override { return m_answer; }
    void inform(const QString& text, const QString&) override
    {
        m_err << "clipvault-cli: " << text << Qt::endl;
    }

private:
    QTextStream& m_err;
    bool m_answer = false;
};

/// The catalogue of a data folder, loaded as the program loads it.
class LoadedCatalogue
{
public:
    LoadedCatalogue(const QString& dataFolder, QTextStream& err)
        : m_prompt(err)
        , m_options(quietOptions())
        , m_catalogue(m_prompt, m_options)
        , m_store(dataFolder)
    {
        m_store.LoadItems(m_catalogue);
        m_store.LoadCategories(m_catalogue);
        if (const QString notice = m_store.unreadableNotice(); !notice.isEmpty())
            err << "clipvault-cli: " << notice << Qt::endl;
    }
    Catalogue& catalogue() { return m_catalogue; }
    CatalogueStore& store() { return m_store; }
    CliPrompt& prompt() { return m_prompt; }

private:
    static OptionsRecord quietOptions()
    {
        OptionsRecord options = DefaultOptions();
        options.NotifyTaskAdded = 0;
        return options;
    }
    CliPrompt m_prompt;
    OptionsRecord m_options;
    Catalogue m_catalogue;
    CatalogueStore m_store;
};

/// A field in the line format: a tab, line break or backslash in it is written as \t, \n, \r
/// or \\, so that one record stays one line of tab-separated fields.
template <std::size_t N>
QString LineField(const TextField<N>& field)
{
    QString text = FieldText(field);
    text.replace(u'\\', QStringLiteral("\\\\"));
    text.replace(u'\t', QStringLiteral("\\t"));
    text.replace(u'\n', QStringLiteral("\\n"));
    text.replace(u'\r', QStringLiteral("\\r"));
    return text;
}

QJsonObject itemJson(const ItemRecord& item)
{
    return {{QStringLiteral("state"), QString(QChar::fromLatin1(item.State))},
            {QStringLiteral("url"), FieldText(item.Url)},
            {QStringLiteral("category"), FieldText(item.Category)},
            {QStringLiteral("folder"), FieldText(item.Folder)},
            {QStringLiteral("fileName"), FieldText(item.FileName)},
            {QStringLiteral("comment"), FieldText(item.Comment)},
            {QStringLiteral("startNow"), item.StartNow}};
}

int listItems(LoadedCatalogue& loaded, const CommandLine& line, QTextStream& out)
{
    const auto& items = loaded.catalogue().items();
    if (line.json) {
        QJsonArray array;
        for (const ItemRecord& item : items)
            array.append(itemJson(item));
        out << QJsonDocument(array).toJson(QJsonDocument::Compact) << Qt::endl;
        return kOk;
    }
    for (const ItemRecord& item : items) {
        out << QChar::fromLatin1(item.State) << '\t' << LineField(item.Category) << '\t'
            << LineField(item.Folder) << '\t' << LineField(item.FileName) << '\t'
            << LineField(item.Url) << '\n';
    }
    return kOk;
}

int listCategories(LoadedCatalogue& loaded, const CommandLine& line, QTextStream& out)
{
    const auto& categories = loaded.catalogue().categories();
    if (line.json) {
        QJsonArray array;
        for (const CategoryRecord& category : categories) {
            array.append(QJsonObject{{QStringLiteral("name"), FieldText(category.Name)},
                                     {QStringLiteral("folder"), FieldText(category.Folder)},
                                     {QStringLiteral("tag"), category.Tag}});
        }
        out << QJsonDocument(array).toJson(QJsonDocument::Compact) << Qt::endl;
        return kOk;
    }
    for (const CategoryRecord& category : categories)
        out << LineField(category.Name) << '\t' << LineField(category.Folder) << '\n';
    return kOk;
}

int saveItems(LoadedCatalogue& loaded, QTextStream& err)
{
    QString error;
    if (!loaded.store().SaveItems(loaded.catalogue(), &error)) {
        err << "clipvault-cli: " << error << Qt::endl;
        return kFailed;
    }
    return kOk;
}

int addItem(LoadedCatalogue& loaded, const CommandLine& line, QTextStream& err)
{
    const QString& url = line.words[2];
    Catalogue& catalogue = loaded.catalogue();
    if (url.trimmed().isEmpty()) {
        err << "clipvault-cli: the URL is empty" << Qt::endl;
        return kFailed;
    }
    const QString category =
        line.category.isEmpty() ? QString::fromLatin1(builtin::Downloaded) : line.category;
    if (catalogue.FindCategory(category) < 0) {
        err << "clipvault-cli: no category named \"" << category << "\"" << Qt::endl;
        return kFailed;
    }
    if (catalogue.FindItemByUrl(url) >= 0 && !line.replace) {
        err << "clipvault-cli: " << url << " is in the catalogue already (--replace replaces it)"
            << Qt::endl;
        return kFailed;
    }
    loaded.prompt().setAnswer(true);
    if (catalogue.AddItemFromUrl(url, category) < 0) {
        err << "clipvault-cli: " << url << " was not added" << Qt::endl;
        return kFailed;
    }
    return saveItems(loaded, err);
}

int removeItem(LoadedCatalogue& loaded, const CommandLine& line, QTextStream& err)
{
    const QString& url = line.words[2];
    if (loaded.catalogue().FindItemByUrl(url) < 0) {
        err << "clipvault-cli: " << url << " is not in the catalogue" << Qt::endl;
        return kFailed;
    }
    loaded.catalogue().RemoveItemByUrl(url);
    return saveItems(loaded, err);
}

/// Why nothing can be written in `folder` (it cannot be made, or a file cannot be created in
/// it); empty when a file can be.
QString unwritableFolderProblem(const QString& folder)
{
    if (!QDir().mkpath(folder))
        return QStringLiteral("it cannot be created");
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".clipvault-probe-XXXXXX")));
    return probe.open() ? QString() : probe.errorString();
}

int runCatalogue(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    const QString action = line.words.value(1);
    const bool changes = action == u"add" || action == u"remove";
    const qsizetype wantedWords = changes ? 3 : 2;
    static const QStringList known = {QStringLiteral("list"), QStringLiteral("categories"),
                                      QStringLiteral("count"), QStringLiteral("add"),
                                      QStringLiteral("remove")};
    if (!known.contains(action) || line.words.size() != wantedWords) {
        err << kUsageText;
        return kUsage;
    }
    const QString dataFolder = dataFolderOf(line);
    // A change holds the folder from its load to its save: the program must not load the logs
    // meanwhile (it would write its older lists over the change on close), nor may a second
    // change load them (one of the two would be lost).
    DataFolderLock lock(dataFolder);
    if (changes && (!QDir().mkpath(dataFolder) || !lock.acquire(kBusyWaitMs))) {
        if (const QString problem = unwritableFolderProblem(dataFolder); !problem.isEmpty())
            err << "clipvault-cli: the data folder " << dataFolder
                << " cannot be written: " << problem << Qt::endl;
        else if (lock.holder() == DataFolderLock::Holder::Program)
            err << "clipvault-cli: Clip Vault is running on " << dataFolder
                << "; close it first, or it will overwrite the change" << Qt::endl;
        else
            err << "clipvault-cli: the data folder " << dataFolder
                << " is busy: another change is being made; try again" << Qt::endl;
        return kFailed;
    }

    if (!changes && lock.holder() == DataFolderLock::Holder::Program)
        err << "clipvault-cli: Clip Vault is running on " << dataFolder
            << "; changes made since it started are not in the files yet" << Qt::endl;
    LoadedCatalogue loaded(dataFolder, err);
    if (action == u"list")
        return listItems(loaded, line, out);
    if (action == u"categories")
        return listCategories(loaded, line, out);
    if (action == u"count") {
        out << "items " << loaded.catalogue().itemCount() << '\n'
            << "categories " << loaded.catalogue().categoryCount() << '\n';
        return kOk;
    }
    if (action == u"add")
        return addItem(loaded, line, err);
    return removeItem(loaded, line, err);
}

int runDownload(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 3) {
        err << kUsageText;
        return kUsage;
    }
    THTTPGet httpGet;
    httpGet.AcceptTypes = QStringLiteral("*/*");
    httpGet.BinaryData = true;
    httpGet.FlashMovieOnly = !line.any; // the program's rule: a page is no movie
    httpGet.UseCache = true;
    httpGet.WaitThread = true;
    httpGet.URL = line.words[1];
    httpGet.FileName = QFileInfo(line.words[2]).absoluteFilePath();
    qint64 size = -1;
    QObject::connect(&httpGet, &THTTPGet::OnDoneFile,
                     [&](const QString&, qint64 fileSize) { size = fileSize; });
    httpGet.StartTransfer();
    if (size < 0) {
        err << "clipvault-cli: " << httpGet.URL << ": " << httpGet.errorString() << Qt::endl;
        return kFailed;
    }
    out << size << Qt::endl;
    return kOk;
}

/// The page of a scan command: a file, or standard input for "-" or none.
std::optional<QByteArray> readPage(const CommandLine& line, QTextStream& err)
{
    const QString name = line.words.value(1, QStringLiteral("-"));
    QFile file;
    const bool opened = name == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                     : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened) {
        err << "clipvault-cli: cannot read " << name << ": " << file.errorString() << Qt::endl;
        return std::nullopt;
    }
    // Read in pieces up to the limit, so that endless input ends with a message, not with the
    // memory exhausted.
    QByteArray page;
    for (;;) {
        const QByteArray piece = file.read(1 << 20);
        if (piece.isEmpty())
            break;
        page += piece;
        if (page.size() > kMaxPageBytes) {
            err << "clipvault-cli: " << name << " is larger than " << (kMaxPageBytes >> 20)
                << " MiB; a page that large is not scanned" << Qt::endl;
            return std::nullopt;
        }
    }
    if (file.error() != QFileDevice::NoError) {
        err << "clipvault-cli: cannot read " << name << ": " << file.errorString() << Qt::endl;
        return std::nullopt;
    }
    return page;
}

int runScan(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.base.isEmpty() || line.words.size() > 2) {
        err << kUsageText;
        return kUsage;
    }
    std::optional<QByteArray> page = readPage(line, err);
    if (!page)
        return kFailed;
    // A file has no header: its encoding is its byte-order mark's, its <meta>'s, or windows-1252.
    PageDecoder decoder(PageCharset(*page, {}));
    if (decoder.isUtf16()) {
        page = decoder.toUtf8(*page);
        decoder = PageDecoder("utf-8");
    }
    ScanResultList found;
    if (line.words[0] == u"scan-html")
        ExtractFlashLinks(*page, line.base, found, decoder);
    else
        ExtractFrameLinks(*page, line.base, found, decoder);
    for (const QString& address : found.toList())
        out << address << '\n';
    return kOk;
}

std::optional<QList<CacheLocation>> cacheLocations(const CommandLine& line, QTextStream& err)
{
    QList<CacheLocation> locations =
        line.dir.isEmpty()
            ? CacheEnumerator::DiscoverCaches(CacheEnumerator::ProfileFolders(dataFolderOf(line)))
            : CacheEnumerator::CachesBelow(line.dir);
    if (line.browser != u"auto") {
        const bool firefox = line.browser == u"firefox";
        if (!firefox && line.browser != u"chromium") {
            err << kUsageText;
            return std::nullopt;
        }
        QList<CacheLocation> wanted;
        for (const CacheLocation& location : locations) {
            if ((location.format == CacheLocation::Format::FirefoxCache2) == firefox)
                wanted << location;
        }
        locations = wanted;
    }
    return locations;
}

int runCacheList(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    const auto locations = cacheLocations(line, err);
    if (!locations)
        return kUsage;
    const CacheEnumerator enumerator(*locations);
    if (!enumerator.LibraryFound()) {
        err << "clipvault-cli: no supported browser cache was found" << Qt::endl;
        return kFailed;
    }
    QJsonArray array;
    DetectionResults results;
    const QString host = CacheHostOf(line.host);
    enumerator.EnumerateEntries([&](const CacheEntry& entry, bool&) {
        QString address = entry.url;
        if (!line.all) {
            // The cache pass of the detection: the site's movies, query cut, each once.
            const int before = static_cast<int>(results.rows().size());
            CachePassEntry(entry, host, line.host.isEmpty(), results);
            if (results.rows().size() == before)
                return;
            address = results.rows().last().address;
        }
        if (line.json) {
            array.append(QJsonObject{{QStringLiteral("url"), address},
                                     {QStringLiteral("file"), entry.file},
                                     {QStringLiteral("size"), entry.bodySize},
                                     {QStringLiteral("browser"), entry.browser}});
        } else {
            out << PrintableKey(address) << '\n';
        }
    });
    if (line.json)
        out << QJsonDocument(array).toJson(QJsonDocument::Compact) << Qt::endl;
    return kOk;
}

int runCacheExtract(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 4) {
        err << kUsageText;
        return kUsage;
    }
    const auto locations = cacheLocations(line, err);
    if (!locations)
        return kUsage;
    const QString& wanted = line.words[2];
    std::optional<CacheEntry> found;
    CacheEnumerator(*locations).EnumerateEntries([&](const CacheEntry& entry, bool& cancel) {
        if (entry.url == wanted) {
            found = entry;
            cancel = true;
        }
    });
    if (!found) {
        err << "clipvault-cli: " << PrintableKey(wanted) << " is not in the cache" << Qt::endl;
        return kFailed;
    }
    QString error;
    if (!ExtractCachedBody(*found, line.words[3], &error)) {
        err << "clipvault-cli: " << error << Qt::endl;
        return kFailed;
    }
    out << QFileInfo(line.words[3]).size() << Qt::endl;
    return kOk;
}

int runSwfInfo(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 2) {
        err << kUsageText;
        return kUsage;
    }
    QString error;
    const std::optional<SwfInfo> info = ReadSwfInfoFromFile(line.words[1], &error);
    if (!info) {
        err << "clipvault-cli: " << line.words[1] << ": " << error << Qt::endl;
        return kFailed;
    }
    if (line.json) {
        const QJsonObject object{{QStringLiteral("signature"), info->signature},
                                 {QStringLiteral("version"), info->version},
                                 {QStringLiteral("width"), info->width},
                                 {QStringLiteral("height"), info->height},
                                 {QStringLiteral("frameRate"), info->frameRate},
                                 {QStringLiteral("frameCount"), info->frameCount}};
        out << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
        return kOk;
    }
    const QString compression = info->signature == u"CWS"   ? QStringLiteral("zlib")
                                : info->signature == u"ZWS" ? QStringLiteral("LZMA")
                                                            : QStringLiteral("none");
    out << "signature " << info->signature << " (compression: " << compression << ")\n"
        << "version " << info->version << '\n'
        << "size " << info->width << " x " << info->height << " pixels\n"
        << "frame rate " << info->frameRate << " per second\n"
        << "frames " << info->frameCount << '\n';
    return kOk;
}

} // namespace

/// The rows of a detection: a line each, "address<TAB>save-as name", or a JSON array.
void printRows(const DetectionResults& results, bool json, QTextStream& out)
{
    if (json) {
        QJsonArray array;
        for (const ResultRow& row : results.rows())
            array.append(QJsonObject{{QStringLiteral("url"), row.address},
                                     {QStringLiteral("saveAs"), row.saveAs}});
        out << QJsonDocument(array).toJson(QJsonDocument::Compact) << Qt::endl;
        return;
    }
    for (const ResultRow& row : results.rows())
        out << row.address << '\t' << row.saveAs << '\n';
}

int runDetect(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    if (line.words.size() != 2) {
        err << kUsageText;
        return kUsage;
    }
    const QString& address = line.words[1];
    DetectionResults results;
    if (IsDrivePath(address)) {
        printRows(results, line.json, out);
        return kOk;
    }
    if (IsMovieAddress(address)) {
        results.AddResultRow(address);
        printRows(results, line.json, out);
        return kOk;
    }
    const std::atomic<bool> never{false};
    PageDetection detection(
        [&](const QString& url, int deadlineMs) { return FetchPage(url, never, deadlineMs); },
        never);
    const QString error = detection.run(address, [&](const QStringList& movies) {
        for (const QString& movie : movies)
            results.AddResultRow(movie);
    });
    if (!detection.limitNotice().isEmpty())
        err << "clipvault-cli: " << detection.limitNotice() << Qt::endl;
    if (error.isEmpty() && detection.limitNotice().isEmpty() && !line.noCache) {
        const std::optional<QList<CacheLocation>> locations = cacheLocations(line, err);
        if (!locations)
            return kUsage;
        const QString host = CacheHostOf(address);
        CacheEnumerator(*locations).EnumerateEntries([&](const CacheEntry& entry, bool&) {
            CachePassEntry(entry, host, false, results);
        });
    }
    printRows(results, line.json, out);
    if (!error.isEmpty()) {
        err << "clipvault-cli: " << error << Qt::endl;
        return kFailed;
    }
    return kOk;
}

int RunCli(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    if (arguments == QStringList{QStringLiteral("--version")}) {
        out << "clipvault-cli " << CLIPVAULT_VERSION << '\n';
        return kOk;
    }
    QString problem;
    const std::optional<CommandLine> line = parse(arguments, problem);
    if (!line) {
        err << "clipvault-cli: " << problem << '\n' << kUsageText;
        return kUsage;
    }
    if (line->help) {
        out << kUsageText;
        return kOk;
    }
    if (line->words.value(0) == u"catalogue")
        return runCatalogue(*line, out, err);
    const QString command = line->words.value(0);
    if (command == u"download")
        return runDownload(*line, out, err);
    if (command == u"scan-html" || command == u"scan-frames")
        return runScan(*line, out, err);
    if (command == u"cache" && line->words.value(1) == u"list" && line->words.size() == 2)
        return runCacheList(*line, out, err);
    if (command == u"cache" && line->words.value(1) == u"extract")
        return runCacheExtract(*line, out, err);
    if (command == u"swf-info")
        return runSwfInfo(*line, out, err);
    if (command == u"detect")
        return runDetect(*line, out, err);
    if (command == u"browser") {
        return RunBrowserCommand(line->words, line->json,
                                 ConfiguredDebuggingPort(dataFolderOf(*line)), out, err);
    }
    err << kUsageText;
    return kUsage;
}
