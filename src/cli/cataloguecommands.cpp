#include "commandline.h"
#include "commands.h"
#include "loadedcatalogue.h"

#include "catalogue.h"
#include "cataloguestore.h"
#include "datafolder.h"
#include "itemfilter.h"
#include "moviefactskeeper.h"
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

int addItem(LoadedCatalogue& loaded, const CommandLine& line, QTextStream& err)
{
    const QString& url = line.words[2];
    Catalogue& catalogue = loaded.catalogue();
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
    return SaveItems(loaded, err);
}

int addCategory(LoadedCatalogue& loaded, const CommandLine& line, QTextStream& err)
{
    Catalogue& catalogue = loaded.catalogue();
    const QString name = line.words[3].trimmed();
    if (catalogue.FindCategory(name) >= 0) {
        err << "clipvault-cli: a category named \"" << name << "\" exists already" << Qt::endl;
        return kFailed;
    }
    CategoryRecord record;
    SetFieldText(record.Name, name);
    SetFieldText(record.Folder,
                 line.folder.isEmpty() ? QString() : QDir(line.folder).absolutePath());
    if (!catalogue.AddCategory(record))
        return kFailed;
    // As the category dialog does: the folder is made now, a failure only leaves it to the
    // first download.
    QDir().mkpath(FieldText(catalogue.categories().back().Folder));
    return SaveCategories(loaded, err);
}

int removeCategory(LoadedCatalogue& loaded, const CommandLine& line, QTextStream& err)
{
    Catalogue& catalogue = loaded.catalogue();
    const QString& name = line.words[3];
    if (IsBuiltInCategory(CatalogueKey(name))) {
        err << "clipvault-cli: \"" << name.trimmed() << "\" is built in and stays" << Qt::endl;
        return kFailed;
    }
    if (catalogue.FindCategory(name) < 0) {
        err << "clipvault-cli: no category named \"" << name.trimmed() << "\"" << Qt::endl;
        return kFailed;
    }
    catalogue.RemoveCategory(name);
    return SaveCategories(loaded, err);
}

int removeItem(LoadedCatalogue& loaded, const CommandLine& line, QTextStream& err)
{
    const QString& url = line.words[2];
    if (loaded.catalogue().FindItemByUrl(url) < 0) {
        err << "clipvault-cli: " << url << " is not in the catalogue" << Qt::endl;
        return kFailed;
    }
    loaded.catalogue().RemoveItemByUrl(url);
    return SaveItems(loaded, err);
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
    // A change holds the folder from its load to its save: the program must not load the logs
    // meanwhile (it would write its older lists over the change on close), nor may a second
    // change load them (one of the two would be lost).
    DataFolderLock lock(dataFolder);
    if (changes && !TakeForChange(lock, dataFolder, err))
        return kFailed;

    if (!changes && lock.holder() == DataFolderLock::Holder::Program)
        err << "clipvault-cli: Clip Vault is running on " << dataFolder
            << "; a change it made in the last second may not be in the files yet" << Qt::endl;
    LoadedCatalogue loaded(dataFolder, err);
    if (action == u"list")
        return listItems(loaded, line, out, err);
    if (action == u"categories")
        return listCategories(loaded, line, out);
    if (action == u"count") {
        out << "items " << loaded.catalogue().itemCount() << '\n'
            << "categories " << loaded.catalogue().categoryCount() << '\n';
        return kOk;
    }
    if (ofCategory)
        return action == u"add" ? addCategory(loaded, line, err)
                                : removeCategory(loaded, line, err);
    if (action == u"add")
        return addItem(loaded, line, err);
    return removeItem(loaded, line, err);
}

} // namespace cli
