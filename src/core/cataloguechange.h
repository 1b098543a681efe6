#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

class Catalogue;

/// A change the command line makes to a catalogue: made on the files when the program is not
/// running, handed to the program when it is (its catalogue is the one that counts then).
struct CatalogueChange
{
    enum class Kind
    {
        AddItem,
        RemoveItem,
        AddCategory,
        RemoveCategory
    };
    Kind kind = Kind::AddItem;
    QString url;          ///< of the item added or removed
    QString category;     ///< the added item's; empty for "Downloaded"
    bool replace = false; ///< an item of the same address is replaced, not refused
    QString name;         ///< of the category added or removed
    QString folder;       ///< the added category's; empty for the default below the save folder

    QJsonObject toJson() const;
    static std::optional<CatalogueChange> fromJson(const QJsonObject& json);
};

/// What a change did: refused with its reason, or made, and which log it changed.
struct ChangeOutcome
{
    QString refused; ///< why nothing changed; empty when the change was made
    bool itemsChanged = false;
    bool categoriesChanged = false;
};

/// Makes the change in the catalogue, asking nobody: a repeated address is replaced only when
/// the change says so, a repeated category name is refused. Saving is the caller's.
ChangeOutcome ApplyCatalogueChange(Catalogue& catalogue, const CatalogueChange& change);

/// The request that hands a change to the running program: this line, then the change as one
/// line of JSON. It answers once the change is on disk, or refused, with one JSON object:
/// {"refused": reason} or {"notSaved": reason} or {}.
inline constexpr char kCatalogueChangeRequest[] = "catalogue-change\n";
