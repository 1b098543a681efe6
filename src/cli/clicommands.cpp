#include "clicommands.h"

#include "catalogue.h"
#include "cataloguestore.h"
#include "datafolder.h"
#include "httpget.h"
#include "userprompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QTextStream>

#include <optional>

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: clipvault-cli [--data-dir DIR] COMMAND\n"
    "  catalogue list [--json]              the items, one a line\n"
    "  catalogue categories [--json]        the categories, one a line\n"
    "  catalogue count                      number of items and categories\n"
    "  catalogue add URL [--category NAME] [--replace]\n"
    "  catalogue remove URL\n"
    "  download URL FILE                    one transfer as the program makes it; prints the size\n";

/// The command line split into words and options; options may stand anywhere.
struct CommandLine
{
    QStringList words;
    QString dataDir;
    QString category;
    bool json = false;
    bool replace = false;
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
        } else if (argument == u"--category") {
            const auto v = value();
            if (!v)
                return std::nullopt;
            line.category = *v;
        } else if (argument.startsWith(QStringLiteral("--"))) {
            problem = QStringLiteral("unknown option ") + argument;
            return std::nullopt;
        } else {
            line.words << argument;
        }
    }
    return line;
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
        out << QChar::fromLatin1(item.State) << '\t' << FieldText(item.Category) << '\t'
            << FieldText(item.Folder) << '\t' << FieldText(item.FileName) << '\t'
            << FieldText(item.Url) << '\n';
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
        out << FieldText(category.Name) << '\t' << FieldText(category.Folder) << '\n';
    return kOk;
}

/// Changes must not race the program: it would overwrite them with its own lists on close.
bool programIsRunning(const QString& dataFolder)
{
    QLockFile lock(QDir(dataFolder).filePath(QStringLiteral("clipvault.lock")));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0))
        return lock.error() == QLockFile::LockFailedError;
    lock.unlock();
    return false;
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
    const QString dataFolder = line.dataDir.isEmpty()
                                   ? ResolveDataFolder(QCoreApplication::applicationDirPath())
                                   : QDir(line.dataDir).absolutePath();
    if (changes && programIsRunning(dataFolder)) {
        err << "clipvault-cli: Clip Vault is running on " << dataFolder
            << "; close it first, or it will overwrite the change" << Qt::endl;
        return kFailed;
    }

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
    httpGet.BinaryData = true;
    httpGet.UseCache = true;
    httpGet.WaitThread = true;
    httpGet.URL = line.words[1];
    httpGet.FileName = QFileInfo(line.words[2]).absoluteFilePath();
    qint64 size = -1;
    QObject::connect(&httpGet, &THTTPGet::OnDoneFile, [&](const QString&, qint64 fileSize) { size = fileSize; });
    httpGet.StartTransfer();
    if (size < 0) {
        err << "clipvault-cli: " << httpGet.URL << ": " << httpGet.errorString() << Qt::endl;
        return kFailed;
    }
    out << size << Qt::endl;
    return kOk;
}

} // namespace

int RunCli(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    QString problem;
    const std::optional<CommandLine> line = parse(arguments, problem);
    if (!line) {
        err << "clipvault-cli: " << problem << '\n' << kUsageText;
        return kUsage;
    }
    if (line->words.value(0) == u"catalogue")
        return runCatalogue(*line, out, err);
    if (line->words.value(0) == u"download")
        return runDownload(*line, out, err);
    err << kUsageText;
    return kUsage;
}
