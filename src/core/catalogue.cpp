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
    // A read may find the log changed in the middle of a paint or a pass: the news waits for the
    // event loop.
    m_items.setLogChangedHandler([this] {
        QMetaObject::invokeMethod(this, &Catalogue::itemsLogChanged, Qt::QueuedConnection);
    });
}

int Catalogue::FindItemByUrl(const QString& url) const
{
    return m_items.find(CatalogueKey(url));
}

int Catalogue::FindItemByUrl(QByteArrayView url) const
{
    return m_items.find(CatalogueKey(url));
}

bool Catalogue::askDownloadAgain() const
{
    return m_prompt.ask(QStringLiteral("The URL has been in the download list, download it again?"),
                        QStringLiteral("confirm"));
}

int Catalogue::AppendItem(const ItemRecord& passed)
{
    // A copy: the caller may hand in a record of this very list, which the removal below moves.
    return AppendItem(ItemRecord(passed));
}

int Catalogue::AppendItem(ItemRecord&& record)
{
    if (const int held = FindItemByUrl(FieldBytes(record.Url)); held >= 0) {
        if (!askDownloadAgain())
            return -1;
        if (m_loadingItems)
            m_items.markRemoved(held);
        else
            removeItemAt(held);
    }
    m_items.append(std::move(record));
    const int index = itemCount() - 1;
    emit itemAppended(index);
    return index;
}

void Catalogue::beginItemsLoad(std::shared_ptr<const StoredLog> log, qint64 expected)
{
    m_items.startLog(std::move(log), expected);
    m_loadingItems = true;
    emit itemsReset();
}

void Catalogue::appendLoggedItems(qint64 first, const StoredItemRecord* stored, qint64 count)
{
    m_items.appendLogged(first, stored, count, [this](int) { return askDownloadAgain(); });
}

qint64 Catalogue::appendWholeLog(qint64 count)
{
    return m_items.appendWholeLog(count, [this](int) { return askDownloadAgain(); });
}

void Catalogue::endItemsLoad()
{
    m_loadingItems = false;
    if (const std::vector<int> removed = m_items.dropMarked(); !removed.empty())
        emit itemsRemoved(QList<int>(removed.cbegin(), removed.cend()));
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
    for (const QString& url : urls) {
        if (const int first = FindItemByUrl(url); first >= 0)
            m_items.markRemoved(first);
    }
    if (const std::vector<int> removed = m_items.dropMarked(); !removed.empty())
        emit itemsRemoved(QList<int>(removed.cbegin(), removed.cend()));
}

void Catalogue::removeItemAt(int index)
{
    m_items.markRemoved(index);
    m_items.dropMarked();
    emit itemsRemoved({index});
}

void Catalogue::SetItemState(int index, ItemState state)
{
    if (m_items.state(index) == state)
        return;
    m_items.setState(index, static_cast<char>(state));
    emit itemChanged(index);
}

void Catalogue::updateItem(int index, const ItemRecord& record)
{
    m_items.replace(index, ItemRecord(record));
    emit itemChanged(index);
}

void Catalogue::dropUnreadableItems()
{
    if (const std::vector<int> removed = m_items.dropUnreadable(); !removed.empty())
        emit itemsRemoved(QList<int>(removed.cbegin(), removed.cend()));
}

void Catalogue::clearItems()
{
    m_items.clear();
    emit itemsReset();
}

int Catalogue::FindItemWithSameContent(int index) const
{
    // Only items held in memory have extras: the log has no field for them.
    const ItemRecord item = m_items.at(index);
    const QByteArray& sha256 = item.extras.sha256;
    const QByteArray key = CatalogueKey(FieldBytes(item.Url));
    int same = -1;
    m_items.forEachInMemory([&](int position, const ItemRecord& other) {
        if (same < 0 && !sha256.isEmpty() && other.extras.sha256 == sha256 &&
            CatalogueKey(FieldBytes(other.Url)) != key)
            same = position;
    });
    return same;
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
