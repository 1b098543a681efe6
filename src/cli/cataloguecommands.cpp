#include "commandline.h"
#include "commands.h"
#include "loadedcatalogue.h"

#include "catalogue.h"
#include "cataloguestore.h"
#include "datafolder.h"
#include "userprompt.h"
#include "vault.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

int listItems(LoadedCatalogue& loaded, const CommandLine& line, QTextStream& out)
{
    const ItemTable& items = loaded.catalogue().items();
    if (line.json) {
        QJsonArray array;
        items.forEach([&](int, const ItemRecord& item) {
            array.append(itemJson(item));
            return true;
        });
        out << QJsonDocument(array).toJson(QJsonDocument::Compact) << Qt::endl;
        return kOk;
    }
    items.forEach([&](int, const ItemRecord& item) {
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
    return SaveItems(loaded, err);
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
    const QString action = line.words.value(1);
    const bool changes = action == u"add" || action == u"remove";
    const qsizetype wantedWords = changes ? 3 : 2;
    static const QStringList known = {QStringLiteral("list"), QStringLiteral("categories"),
                                      QStringLiteral("count"), QStringLiteral("add"),
                                      QStringLiteral("remove")};
    if (!known.contains(action) || line.words.size() != wantedWords) {
        return UsageError(line, err);
    }
    const QString dataFolder = DataFolderOf(line);
    // A change holds the folder from its load to its save: the program must not load the logs
    // meanwhile (it would write its older lists over the change on close), nor may a second
    // change load them (one of the two would be lost).
    DataFolderLock lock(dataFolder);
    if (changes && !TakeForChange(lock, dataFolder, err))
        return kFailed;

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

} // namespace cli
