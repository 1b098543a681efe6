#include "commandline.h"
#include "commands.h"
#include "loadedcatalogue.h"

#include "catalogue.h"
#include "cataloguechange.h"
#include "cataloguestore.h"
#include "datafolder.h"
#include "itemfilter.h"
#include "moviefactskeeper.h"
#include "privatefolder.h"
#include "urlresolve.h"
#include "userprompt.h"
#include "vault.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTextStream>

namespace cli {

namespace {

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

/// Which items `catalogue list` lists: all, or those a search finds in their name, address or
/// comment, or (asked to look inside) in the facts of their movie file, which the facts store
/// reads once per content.
class ListedItems final
{
public:
    ListedItems(const CommandLine& line, QTextStream& err)
        : m_facts(DataFolderOf(line))
        , m_inside(line.inside)
        , m_err(err)
    {
        if (QString error; m_inside && !m_facts.load(&error))
            m_err << "clipvault-cli: " << error << Qt::endl;
        if (line.search.isNull())
            return;
        SearchRequest request{line.search, true, true, true, m_inside};
        m_search.emplace(request, [this](const ItemRecord& item) { return factsOf(item); });
    }
    ~ListedItems()
    {
        // The store keeps the facts of the catalogue's movies only: every item passed by.
        if (m_inside)
            m_listed.prune(m_facts);
        if (QString error; m_inside && !m_facts.save(&error))
            m_err << "clipvault-cli: " << error << Qt::endl;
    }
    Q_DISABLE_COPY_MOVE(ListedItems)

    bool wanted(const ItemRecord& item)
    {
        if (m_inside)
            m_listed.add(item);
        return !m_search || m_search->matches(item);
    }

private:
    /// The facts of the item's movie, read now when the store has none for it.
    const SwfContents* factsOf(const ItemRecord& item)
    {
        const QString file = ItemFilePath(item);
        if (!QFileInfo(file).isFile())
            return nullptr;
        m_read = m_facts.factsOf(file, item.extras.sha256);
        return m_read ? &*m_read : nullptr;
    }

    MovieFactsStore m_facts;
    CatalogueMovies m_listed;
    bool m_inside;
    QTextStream& m_err;
    std::optional<SearchFilter> m_search;
    std::optional<SwfContents> m_read; ///< the last facts asked for
};

int listItems(LoadedCatalogue& loaded, const CommandLine& line, QTextStream& out, QTextStream& err)
{
    const ItemTable& items = loaded.catalogue().items();
    ListedItems listed(line, err);
    if (line.json) {
        QJsonArray array;
        items.forEach([&](int, const ItemRecord& item) {
            if (listed.wanted(item))
                array.append(itemJson(item));
            return true;
        });
        out << QJsonDocument(array).toJson(QJsonDocument::Compact) << Qt::endl;
        return kOk;
    }
    items.forEach([&](int, const ItemRecord& item) {
        if (listed.wanted(item))
            out << QChar::fromLatin1(item.State) << '\t' << LineField(item.Category) << '\t'
                << LineField(item.Folder) << '\t' << LineField(item.FileName) << '\t'
                << LineField(item.Url) << '\n';
        return true;
    });
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

/// Why the program could not download the address, or nothing: it takes an http or https
/// address, or one without a scheme (fetched as http), that names a movie by the program's
/// rule (its path's last segment ends in ".swf", any case; the add-task dialog keeps its own).
QString undownloadable(const QString& url)
{
    if (url.trimmed().isEmpty())
        return QStringLiteral("the URL is empty");
    static const QRegularExpression scheme(QStringLiteral("^\\s*([A-Za-z][A-Za-z0-9+.-]*):"));
    const QRegularExpressionMatch match = scheme.match(url);
    // "host:8080/m.swf" names a port, not a scheme.
    static const QRegularExpression port(QStringLiteral("^\\s*[^:/]+:\\d+(/|$)"));
    if (match.hasMatch() && !port.match(url).hasMatch()) {
        const QString name = match.captured(1).toLower();
        if (name != u"http" && name != u"https")
            return QStringLiteral("%1 is no http or https address").arg(url);
    }
    // The program's movie rule, whatever the letter case: the last segment of the path.
    if (!IsMovieAddress(url.trimmed()))
        return QStringLiteral("%1 names no Flash movie (its name does not end in \".swf\")")
            .arg(url);
    return {};
}

/// How long the running program may take to make and save a change handed to it: a large
/// catalogue's logs take seconds to write.
constexpr int kProgramAnswerMs = 60 * 1000;

/// The change a "catalogue add|remove" or "catalogue category add|remove" command makes.
CatalogueChange changeOf(const CommandLine& line, bool ofCategory, const QString& action)
{
    CatalogueChange change;
    const bool adds = action == u"add";
    if (ofCategory) {
        change.kind =
            adds ? CatalogueChange::Kind::AddCategory : CatalogueChange::Kind::RemoveCategory;
        change.name = line.words[3];
        change.folder = line.folder.isEmpty() ? QString() : QDir(line.folder).absolutePath();
    } else {
        change.kind = adds ? CatalogueChange::Kind::AddItem : CatalogueChange::Kind::RemoveItem;
        change.url = line.words[2];
        change.category = line.category;
        change.replace = line.replace;
    }
    return change;
}

/// The running program's answer to a change handed to it, as the exit code.
int handedChangeAnswered(const QByteArray& reply, QTextStream& err)
{
    const QJsonDocument answer = QJsonDocument::fromJson(reply.trimmed());
    if (!answer.isObject()) {
        err << "clipvault-cli: Clip Vault took the change but did not say it was saved" << Qt::endl;
        return kFailed;
    }
    const QJsonObject object = answer.object();
    if (const QString why = object.value(QStringLiteral("refused")).toString(); !why.isEmpty()) {
        err << "clipvault-cli: " << why << Qt::endl;
        return kFailed;
    }
    if (const QString why = object.value(QStringLiteral("notSaved")).toString(); !why.isEmpty()) {
        err << "clipvault-cli: Clip Vault made the change but could not save it: " << why
            << Qt::endl;
        return kFailed;
    }
    return kOk;
}

/// Makes the change on the data folder's files, holding the folder from the load to the save.
int changeFiles(const CatalogueChange& change, const QString& dataFolder, QTextStream& err)
{
    // The program must not load the logs meanwhile (it would write its older lists over the
    // change on close), nor may a second change load them (one of the two would be lost).
    DataFolderLock lock(dataFolder);
    if (!TakeForChange(lock, dataFolder, err))
        return kFailed;
    LoadedCatalogue loaded(dataFolder, err);
    const ChangeOutcome outcome = ApplyCatalogueChange(loaded.catalogue(), change);
    if (!outcome.refused.isEmpty()) {
        err << "clipvault-cli: " << outcome.refused << Qt::endl;
        return kFailed;
    }
    return outcome.itemsChanged ? SaveItems(loaded, err) : SaveCategories(loaded, err);
}

} // namespace

int RunCatalogue(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    const bool ofCategory = line.words.value(1) == u"category";
    const QString action = line.words.value(ofCategory ? 2 : 1);
    const bool changes = action == u"add" || action == u"remove";
    const qsizetype wantedWords = (changes ? 3 : 2) + (ofCategory ? 1 : 0);
    static const QStringList known = {QStringLiteral("list"), QStringLiteral("categories"),
                                      QStringLiteral("count"), QStringLiteral("add"),
                                      QStringLiteral("remove")};
    if (!known.contains(action) || (ofCategory && !changes) || line.words.size() != wantedWords) {
        return UsageError(line, err);
    }
    // What cannot be filed is bad usage, told before anything is loaded.
    if (action == u"add" && !ofCategory) {
        if (const QString why = undownloadable(line.words[2]); !why.isEmpty())
            return UsageError(line, err, why);
    }
    if (ofCategory && action == u"add" && line.words[3].trimmed().isEmpty())
        return UsageError(line, err, QStringLiteral("the category name is blank"));
    const QString dataFolder = DataFolderOf(line);
    if (changes) {
        // While the program runs, its catalogue is the one that counts: it makes the change and
        // answers once the change is on disk.
        const CatalogueChange change = changeOf(line, ofCategory, action);
        const QByteArray request = QByteArray(kCatalogueChangeRequest) +
                                   QJsonDocument(change.toJson()).toJson(QJsonDocument::Compact) +
                                   '\n';
        if (const std::optional<QByteArray> reply =
                AskRunningProgram(dataFolder, request, kProgramAnswerMs))
            return handedChangeAnswered(*reply, err);
        return changeFiles(change, dataFolder, err);
    }
    DataFolderLock lock(dataFolder);
    if (lock.holder() == DataFolderLock::Holder::Program)
        err << "clipvault-cli: Clip Vault is running on " << dataFolder
            << "; a change it made in the last second may not be in the files yet" << Qt::endl;
    LoadedCatalogue loaded(dataFolder, err);
    if (action == u"categories")
        return listCategories(loaded, line, out);
    if (action == u"count") {
        out << "items " << loaded.catalogue().itemCount() << '\n'
            << "categories " << loaded.catalogue().categoryCount() << '\n';
        return kOk;
    }
    return listItems(loaded, line, out, err);
}

} // namespace cli
