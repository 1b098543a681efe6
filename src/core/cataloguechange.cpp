#include "cataloguechange.h"

#include "catalogue.h"
#include "fieldtext.h"
#include "records.h"

#include <QDir>

namespace {

const char* kindName(CatalogueChange::Kind kind)
{
    switch (kind) {
    case CatalogueChange::Kind::AddItem:
        return "add";
    case CatalogueChange::Kind::RemoveItem:
        return "remove";
    case CatalogueChange::Kind::AddCategory:
        return "category add";
    case CatalogueChange::Kind::RemoveCategory:
        return "category remove";
    }
    return "";
}

ChangeOutcome refused(const QString& why)
{
    return {why, false, false};
}

ChangeOutcome addItem(Catalogue& catalogue, const CatalogueChange& change)
{
    const QString category =
        change.category.isEmpty() ? QString::fromLatin1(builtin::Downloaded) : change.category;
    if (catalogue.FindCategory(category) < 0)
        return refused(QStringLiteral("no category named \"%1\"").arg(category));
    if (catalogue.FindItemByUrl(change.url) >= 0) {
        if (!change.replace)
            return refused(QStringLiteral("%1 is in the catalogue already (--replace replaces it)")
                               .arg(change.url));
        // Removed first, so that nobody is asked whether to download it again.
        catalogue.RemoveItemByUrl(change.url);
    }
    if (catalogue.AddItemFromUrl(change.url, category) < 0)
        return refused(QStringLiteral("%1 was not added").arg(change.url));
    return {{}, true, false};
}

ChangeOutcome removeItem(Catalogue& catalogue, const CatalogueChange& change)
{
    if (catalogue.FindItemByUrl(change.url) < 0)
        return refused(QStringLiteral("%1 is not in the catalogue").arg(change.url));
    catalogue.RemoveItemByUrl(change.url);
    return {{}, true, false};
}

ChangeOutcome addCategory(Catalogue& catalogue, const CatalogueChange& change)
{
    const QString name = change.name.trimmed();
    if (name.isEmpty())
        return refused(QStringLiteral("the category name is blank"));
    if (catalogue.FindCategory(name) >= 0)
        return refused(QStringLiteral("a category named \"%1\" exists already").arg(name));
    CategoryRecord record;
    SetFieldText(record.Name, name);
    SetFieldText(record.Folder,
                 change.folder.isEmpty() ? QString() : QDir(change.folder).absolutePath());
    if (!catalogue.AddCategory(record))
        return refused(QStringLiteral("the category \"%1\" was not added").arg(name));
    // As the category dialog does: the folder is made now, a failure only leaves it to the
    // first download.
    QDir().mkpath(FieldText(catalogue.categories().back().Folder));
    return {{}, false, true};
}

ChangeOutcome removeCategory(Catalogue& catalogue, const CatalogueChange& change)
{
    if (IsBuiltInCategory(CatalogueKey(change.name)))
        return refused(QStringLiteral("\"%1\" is built in and stays").arg(change.name.trimmed()));
    if (catalogue.FindCategory(change.name) < 0)
        return refused(QStringLiteral("no category named \"%1\"").arg(change.name.trimmed()));
    catalogue.RemoveCategory(change.name);
    return {{}, false, true};
}

} // namespace

QJsonObject CatalogueChange::toJson() const
{
    return {{QStringLiteral("change"), QLatin1String(kindName(kind))},
            {QStringLiteral("url"), url},
            {QStringLiteral("category"), category},
            {QStringLiteral("replace"), replace},
            {QStringLiteral("name"), name},
            {QStringLiteral("folder"), folder}};
}

std::optional<CatalogueChange> CatalogueChange::fromJson(const QJsonObject& json)
{
    CatalogueChange change;
    const QString kind = json.value(QStringLiteral("change")).toString();
    bool known = false;
    for (const Kind candidate :
         {Kind::AddItem, Kind::RemoveItem, Kind::AddCategory, Kind::RemoveCategory}) {
        if (kind == QLatin1String(kindName(candidate))) {
            change.kind = candidate;
            known = true;
        }
    }
    if (!known)
        return std::nullopt;
    change.url = json.value(QStringLiteral("url")).toString();
    change.category = json.value(QStringLiteral("category")).toString();
    change.replace = json.value(QStringLiteral("replace")).toBool();
    change.name = json.value(QStringLiteral("name")).toString();
    change.folder = json.value(QStringLiteral("folder")).toString();
    return change;
}

ChangeOutcome ApplyCatalogueChange(Catalogue& catalogue, const CatalogueChange& change)
{
    switch (change.kind) {
    case CatalogueChange::Kind::AddItem:
        return addItem(catalogue, change);
    case CatalogueChange::Kind::RemoveItem:
        return removeItem(catalogue, change);
    case CatalogueChange::Kind::AddCategory:
        return addCategory(catalogue, change);
    case CatalogueChange::Kind::RemoveCategory:
        return removeCategory(catalogue, change);
    }
    return refused(QStringLiteral("an unknown change"));
}
