#pragma once

#include "itemtable.h"
#include "keyindex.h"
#include "options.h"
#include "records.h"

#include <vector>

#include <QList>
#include <QObject>
#include <QSignalBlocker>
#include <QString>
#include <QStringList>

class UserPrompt;

/// The catalogue in memory: the ordered item list and category list, and every operation that
/// looks them up or changes them. A record's position in its list is its handle; -1 means none.
/// Items are keyed by their Url and categories by their Name, both compared trimmed and
/// ignoring case. Every operation runs on the thread that owns the catalogue (the user-interface
/// thread of the program); the views follow its changes through the signals below.
class Catalogue final : public QObject
{
    Q_OBJECT
public:
    Catalogue(UserPrompt& prompt, const OptionsRecord& options, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(Catalogue)

    // --- items
    int itemCount() const { return m_items.size(); }
    ItemRecord item(int index) const { return m_items.at(index); }
    /// The items, for passes over all of them (ItemTable::forEach) and the logs.
    const ItemTable& items() const { return m_items; }
    /// The whole value of the item's Category field, without reading its record.
    QByteArrayView itemCategory(int index) const { return m_items.category(index); }

    /// Position of the first item whose Url matches, or -1.
    int FindItemByUrl(const QString& url) const;
    int FindItemByUrl(QByteArrayView url) const;

    /// Appends a copy of the record. When its Url is catalogued already the user is asked
    /// whether to download it again: Yes replaces the older record, anything else returns -1
    /// and changes nothing.
    int AppendItem(const ItemRecord& record);
    int AppendItem(ItemRecord&& record);

    /// Files a new item in state "N" under `category` ("Downloaded" when empty), in the
    /// category's folder. -1 when the category does not exist or a duplicate is declined.
    int AddItemFromUrl(const QString& url, const QString& category);
    /// As AddItemFromUrl, with `fileName` (when not empty) as the item's file name or full path.
    int AddItemFromUrlAs(const QString& url, const QString& category, const QString& fileName);

    /// Takes the item out of the list when it is there. Always true.
    bool RemoveItemByUrl(const QString& url);
    /// Takes every item with one of the URLs out in one pass, as RemoveItemByUrl would one by
    /// one (the first holder of each key), in time linear in the list.
    void RemoveItemsByUrl(const QStringList& urls);

    /// Stores a state letter.
    void SetItemState(int index, ItemState state);
    ItemState itemState(int index) const { return m_items.state(index); }

    /// Replaces the record at `index` in place (the dialogs and commands edit records so).
    void updateItem(int index, const ItemRecord& record);
    void clearItems();
    /// Takes out the items whose records another program's change to the items log took away
    /// (ItemTable::dropUnreadable).
    void dropUnreadableItems();

    /// Position of an item other than `index` whose movie has the same SHA-256, or -1.
    int FindItemWithSameContent(int index) const;

    /// A load of the items log: the list is emptied and takes the log's records in order, each as
    /// AppendItem would (a record whose Url is held already asks whether to download it again).
    /// Records appended by number stay in the log until they change.
    void beginItemsLoad(std::shared_ptr<const StoredLog> log, qint64 expected);
    void appendLoggedItems(qint64 first, const StoredItemRecord* stored, qint64 count);
    /// Appends the log's first `count` records; returns how many the file still held.
    qint64 appendWholeLog(qint64 count);
    void endItemsLoad();

    // --- categories
    int categoryCount() const { return static_cast<int>(m_categories.size()); }
    const CategoryRecord& category(int index) const
    {
        return m_categories[static_cast<std::size_t>(index)];
    }
    const std::vector<CategoryRecord>& categories() const { return m_categories; }

    /// Position of the first category whose Name matches, or -1.
    int FindCategory(const QString& name) const;
    int FindCategory(QByteArrayView name) const;

    /// Appends a copy of the record with its folder completed. A name that exists already is
    /// refused: silently for a built-in category, with a message for any other.
    bool AddCategory(const CategoryRecord& record);

    /// Takes a user category out of the list. False for a built-in name, true otherwise. The
    /// items filed under it keep its name.
    bool RemoveCategory(const QString& name);

    void updateCategory(int index, const CategoryRecord& record);
    void clearCategories();

    enum class List
    {
        Items,
        Categories
    };
    /// Runs `change` (a load of many records into `list`) with the signals held back, then
    /// announces that list once: views refill once instead of following every record.
    template <typename Change>
    void changeInBulk(List list, Change&& change)
    {
        {
            const QSignalBlocker quiet(this);
            change();
        }
        if (list == List::Items)
            emit itemsReset();
        else
            emit categoriesChanged();
    }

    UserPrompt& prompt() const { return m_prompt; }
    const OptionsRecord& options() const { return m_options; }

signals:
    /// The item list was replaced as a whole: positions held before mean nothing now.
    void itemsReset();
    /// An item was appended at `index`, the end of the list.
    void itemAppended(int index);
    /// The item at `index` changed (its state or any field); it may now belong to other views.
    void itemChanged(int index);
    /// The items at `positions` (ascending, counted before the removal) left the list; every
    /// later item moved up by the number of removed items before it.
    void itemsRemoved(const QList<int>& positions);
    /// A category was added, removed or changed.
    void categoriesChanged();
    /// Another program changed the items log in place: the items read from it can no longer be
    /// read (ItemTable::logChanged). Sent once, from the event loop.
    void itemsLogChanged();

private:
    void removeItemAt(int index);
    bool askDownloadAgain() const;

    UserPrompt& m_prompt;
    const OptionsRecord& m_options;
    ItemTable m_items;
    bool m_loadingItems = false; ///< removals wait for the load's end, positions stay put
    std::vector<CategoryRecord> m_categories;
    KeyIndex m_categoryIndex;
};

/// A category folder by the folder rule: an empty folder becomes DefaultSaveFolder (built-in
/// categories) or DefaultSaveFolder + name + "/"; any other folder gets a trailing "/".
QString CompletedCategoryFolder(const QString& folder, const QString& name);
