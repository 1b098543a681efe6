#include "catalogue.h"

#include "userprompt.h"

#include <QCoreApplication>

namespace {

const QString kInformation = QStringLiteral("Information");

QString lastSegment(const QString& url)
{
    const qsizetype slash = url.lastIndexOf(u'/');
    return slash < 0 ? url : url.mid(slash + 1);
}

} // namespace

Catalogue::Catalogue(UserPrompt& prompt, const OptionsRecord& options, QObject* parent)
    : QObject(parent)
    , m_prompt(prompt)
    , m_options(options)
{
}

int Catalogue::FindItemByUrl(const QString& url) const
{
    return m_itemIndex.first(CatalogueKey(url));
}

int Catalogue::FindItemByUrl(QByteArrayView url) const
{
    return m_itemIndex.first(CatalogueKey(url));
}

int Catalogue::AppendItem(const ItemRecord& passed)
{
    // A copy: the caller may hand in a record of this very list, which the removal below moves.
    return AppendItem(ItemRecord(passed));
}

int Catalogue::AppendItem(ItemRecord&& record)
{
    const QByteArray key = CatalogueKey(FieldBytes(record.Url));
    if (const int held = m_itemIndex.addUnlessHeld(key, itemCount()); held >= 0) {
        if (!m_prompt.ask(
                QStringLiteral("The URL has been in the download list, download it again?"),
                QStringLiteral("confirm")))
            return -1;
        removeItemAt(held);
        m_itemIndex.add(key, itemCount());
    }
    m_items.push_back(std::move(record));
    const int index = itemCount() - 1;
    emit itemAppended(index);
    return index;
}

int Catalogue::AddItemFromUrl(const QString& url, const QString& category)
{
    return AddItemFromUrlAs(url, category, QString());
}

int Catalogue::AddItemFromUrlAs(const QString& url, const QString& category,
                                const QString& fileName)
{
    ItemRecord record = EmptyItemRecord();
    SetFieldText(record.Url, url);
    SetFieldText(record.FileName, fileName.isEmpty() ? lastSegment(url) : fileName);
    record.State = static_cast<char>(ItemState::New);
    SetFieldText(record.Category,
                 category.isEmpty() ? QString::fromLatin1(builtin::Downloaded) : category);

    const int categoryIndex = FindCategory(FieldBytes(record.Category));
    if (categoryIndex < 0)
        return -1;
    SetFieldBytes(record.Folder, FieldBytes(m_categories[categoryIndex].Folder));

    const int index = AppendItem(record);
    if (index >= 0 && m_options.NotifyTaskAdded)
        m_prompt.inform(FieldText(record.Url) + QStringLiteral(" added!"), kInformation);
    return index;
}

bool Catalogue::RemoveItemByUrl(const QString& url)
{
    const int index = FindItemByUrl(url);
    if (index >= 0)
        removeItemAt(index);
    return true;
}

void Catalogue::RemoveItemsByUrl(const QStringList& urls)
{
    // Each URL takes the first remaining holder of its key, as one-by-one removal would; the
    // list is then compacted once.
    std::vector<bool> doomed(m_items.size(), false);
    bool any = false;
    for (const QString& url : urls) {
        const QByteArray key = CatalogueKey(url);
        const int first = m_itemIndex.first(key);
        if (first < 0)
            continue;
        doomed[static_cast<std::size_t>(first)] = true;
        m_itemIndex.erase(key, first);
        any = true;
    }
    if (!any)
        return;
    QList<int> removed;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (doomed[i])
            removed << static_cast<int>(i);
        else
            m_items[kept++] = m_items[i];
    }
    m_items.resize(kept);
    rebuildItemIndex();
    emit itemsRemoved(removed);
}

void Catalogue::rebuildItemIndex()
{
    m_itemIndex.clear();
    m_itemIndex.reserve(static_cast<qsizetype>(m_items.size()));
    for (std::size_t i = 0; i < m_items.size(); ++i)
        m_itemIndex.add(CatalogueKey(FieldBytes(m_items[i].Url)), static_cast<int>(i));
}

void Catalogue::removeItemAt(int index)
{
    m_itemIndex.removeAt(CatalogueKey(FieldBytes(item(index).Url)), index);
    m_items.erase(m_items.begin() + index);
    emit itemsRemoved({index});
}

void Catalogue::SetItemState(int index, ItemState state)
{
    char& stored = m_items[static_cast<std::size_t>(index)].State;
    if (stored == static_cast<char>(state))
        return;
    stored = static_cast<char>(state);
    emit itemChanged(index);
}

void Catalogue::updateItem(int index, const ItemRecord& record)
{
    ItemRecord& stored = m_items[static_cast<std::size_t>(index)];
    m_itemIndex.rekey(CatalogueKey(FieldBytes(stored.Url)), CatalogueKey(FieldBytes(record.Url)),
                      index);
    stored = record;
    emit itemChanged(index);
}

void Catalogue::clearItems()
{
    m_items.clear();
    m_itemIndex.clear();
    emit itemsReset();
}

void Catalogue::reserveItems(int count)
{
    m_items.reserve(m_items.size() + static_cast<std::size_t>(count));
    m_itemIndex.reserve(m_items.size() + static_cast<std::size_t>(count));
}

int Catalogue::FindCategory(const QString& name) const
{
    return m_categoryIndex.first(CatalogueKey(name));
}

int Catalogue::FindCategory(QByteArrayView name) const
{
    return m_categoryIndex.first(CatalogueKey(name));
}

bool Catalogue::AddCategory(const CategoryRecord& record)
{
    const QByteArrayView name = FieldBytes(record.Name);
    if (FindCategory(name) >= 0) {
        if (!IsBuiltInCategory(name))
            m_prompt.inform(QStringLiteral("The Category has exists!"), kInformation);
        return false;
    }
    CategoryRecord stored = record;
    SetFieldText(stored.Folder,
                 CompletedCategoryFolder(FieldText(record.Folder), QString::fromUtf8(name)));
    m_categories.push_back(stored);
    m_categoryIndex.add(CatalogueKey(name), categoryCount() - 1);
    emit categoriesChanged();
    return true;
}

bool Catalogue::RemoveCategory(const QString& name)
{
    const QByteArray key = CatalogueKey(name);
    if (IsBuiltInCategory(key))
        return false;
    const int index = m_categoryIndex.first(key);
    if (index >= 0) {
        m_categoryIndex.removeAt(key, index);
        m_categories.erase(m_categories.begin() + index);
        emit categoriesChanged();
    }
    return true;
}

void Catalogue::updateCategory(int index, const CategoryRecord& record)
{
    CategoryRecord& stored = m_categories[static_cast<std::size_t>(index)];
    m_categoryIndex.rekey(CatalogueKey(FieldBytes(stored.Name)),
                          CatalogueKey(FieldBytes(record.Name)), index);
    stored = record;
    emit categoriesChanged();
}

void Catalogue::clearCategories()
{
    m_categories.clear();
    m_categoryIndex.clear();
    emit categoriesChanged();
}

QString CompletedCategoryFolder(const QString& folder, const QString& name)
{
    if (!folder.isEmpty())
        return folder.endsWith(u'/') ? folder : folder + u'/';
    if (IsBuiltInCategory(QByteArrayView(name.toUtf8())))
        return DefaultSaveFolder();
    return DefaultSaveFolder() + name + u'/';
}
