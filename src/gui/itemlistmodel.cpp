#include "itemlistmodel.h"

#include "catalogue.h"
#include "icons.h"

#include <QMimeData>
#include <QSet>

#include <set>

ItemListModel::ItemListModel(const Catalogue& catalogue, QObject* parent)
    : QAbstractTableModel(parent)
    , m_catalogue(catalogue)
{
    connect(&catalogue, &Catalogue::itemsReset, this, &ItemListModel::fill);
    connect(&catalogue, &Catalogue::itemAppended, this, &ItemListModel::itemAppended);
    connect(&catalogue, &Catalogue::itemChanged, this, &ItemListModel::itemChanged);
    connect(&catalogue, &Catalogue::itemsRemoved, this, &ItemListModel::itemsRemoved);
}

void ItemListModel::showNode(const QString& nodeText)
{
    m_search.reset();
    m_node = NodeFilter(nodeText);
    fill();
}

std::vector<int> ItemListModel::found(const SearchFilter& search) const
{
    // A search reads every record: one pass over the catalogue, in large pieces.
    std::vector<int> positions;
    m_catalogue.items().forEach([&](int position, const ItemRecord& item) {
        if (search.matches(item))
            positions.push_back(position);
        return true;
    });
    return positions;
}

int ItemListModel::showSearch(const SearchFilter& search)
{
    std::vector<int> positions = found(search);
    if (positions.empty())
        return 0;
    // The found items stay listed, and follow their changes, until a node is shown again.
    m_node.reset();
    m_search = search;
    beginResetModel();
    m_positions = std::move(positions);
    endResetModel();
    return static_cast<int>(m_positions.size());
}

bool ItemListModel::belongs(int position) const
{
    if (m_node)
        return m_node->matches(m_catalogue.itemState(position), m_catalogue.itemCategory(position));
    return m_search && m_search->matches(m_catalogue.item(position));
}

void ItemListModel::fill()
{
    beginResetModel();
    m_positions.clear();
    if (m_search) {
        m_positions = found(*m_search);
    } else if (m_node) {
        // A node asks only what the catalogue holds in memory: no record is read.
        for (int position = 0; position < m_catalogue.itemCount(); ++position) {
            if (belongs(position))
                m_positions.push_back(position);
        }
    }
    endResetModel();
}

std::vector<int>::iterator ItemListModel::rowOf(int position)
{
    return std::lower_bound(m_positions.begin(), m_positions.end(), position);
}

void ItemListModel::itemAppended(int position)
{
    if (!belongs(position))
        return;
    const auto at = rowOf(position);
    const int row = static_cast<int>(at - m_positions.begin());
    beginInsertRows({}, row, row);
    m_positions.insert(at, position);
    endInsertRows();
}

void ItemListModel::itemChanged(int position)
{
    if (!m_node && !m_search)
        return;
    const auto at = rowOf(position);
    const int row = static_cast<int>(at - m_positions.begin());
    const bool listed = at != m_positions.end() && *at == position;
    const bool shown = belongs(position);
    if (listed && shown) {
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    } else if (listed) {
        beginRemoveRows({}, row, row);
        m_positions.erase(at);
        endRemoveRows();
    } else if (shown) {
        beginInsertRows({}, row, row);
        m_positions.insert(at, position);
        endInsertRows();
    }
}

void ItemListModel::itemsRemoved(const QList<int>& removed)
{
    // First every row learns its item's new place (a removed item's row holds -1 until it
    // leaves), then the rows of removed items leave in runs of neighbours, from the last run
    // back. One pass over the rows however many items left.
    qsizetype passed = 0; // removed positions before the current row's
    bool anyGone = false;
    for (int& position : m_positions) {
        while (passed < removed.size() && removed[passed] < position)
            ++passed;
        if (passed < removed.size() && removed[passed] == position) {
            position = -1;
            anyGone = true;
        } else {
            position -= static_cast<int>(passed);
        }
    }
    if (!anyGone)
        return;
    for (int end = rowCount(); end > 0;) {
        if (m_positions[static_cast<std::size_t>(end - 1)] >= 0) {
            --end;
            continue;
        }
        int first = end - 1;
        while (first > 0 && m_positions[static_cast<std::size_t>(first - 1)] < 0)
            --first;
        beginRemoveRows({}, first, end - 1);
        m_positions.erase(m_positions.begin() + first, m_positions.begin() + end);
        endRemoveRows();
        end = first;
    }
}

int ItemListModel::itemPosition(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_positions.size()))
        return -1;
    return m_positions[static_cast<std::size_t>(row)];
}

QString ItemListModel::urlAt(int row) const
{
    const int position = itemPosition(row);
    return position < 0 ? QString() : FieldText(m_catalogue.item(position).Url);
}

int ItemListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_positions.size());
}

QString KeptFilesNote(const QString& name, int keptFiles)
{
    if (keptFiles <= 0)
        return name;
    return name + (keptFiles == 1 ? QStringLiteral("  +1 file")
                                  : QStringLiteral("  +%1 files").arg(keptFiles));
}

int ItemListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const
{
    const int position = itemPosition(index.row());
    if (position < 0)
        return {};
    const ItemRecord& item = m_catalogue.item(position);
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case FileNameColumn:
            return KeptFilesNote(ItemShownFileName(item), item.extras.keptFiles);
        case CategoryColumn:
            return FieldText(item.Category);
        case CommentColumn:
            return FieldText(item.Comment);
        case UrlColumn:
            return FieldText(item.Url);
        default:
            return {};
        }
    }
    if (role == Qt::DecorationRole && index.column() == FileNameColumn)
        return Icons::itemImage(item.state());
    if (role == ContentRole)
        return item.extras.sha256;
    if (role == FailureRole)
        return DownloadFailureText(item);
    return {};
}

QVariant ItemListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case FileNameColumn:
        return QStringLiteral("  Filename");
    case CategoryColumn:
        return QStringLiteral("Category");
    case CommentColumn:
        return QStringLiteral("Comments");
    case UrlColumn:
        return QStringLiteral("Source Url");
    default:
        return {};
    }
}

Qt::ItemFlags ItemListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
           Qt::ItemNeverHasChildren;
}

bool ItemListModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 ||
        row + count > static_cast<int>(m_positions.size()))
        return false;
    beginRemoveRows({}, row, row + count - 1);
    m_positions.erase(m_positions.begin() + row, m_positions.begin() + row + count);
    endRemoveRows();
    return true;
}

void ItemListModel::removeRowsOf(const QStringList& urls)
{
    QSet<QByteArray> keys;
    for (const QString& url : urls)
        keys.insert(CatalogueKey(url));
    for (int row = rowCount() - 1; row >= 0; --row) {
        if (keys.contains(CatalogueKey(FieldBytes(m_catalogue.item(itemPosition(row)).Url))))
            removeRows(row, 1);
    }
}

QString ItemListModel::itemRowsMimeType()
{
    return QStringLiteral("application/x-clipvault-item-urls");
}

QStringList ItemListModel::mimeTypes() const
{
    return {itemRowsMimeType()};
}

QMimeData* ItemListModel::mimeData(const QModelIndexList& indexes) const
{
    std::set<int> rows;
    for (const QModelIndex& index : indexes)
        rows.insert(index.row());
    QStringList urls;
    for (int row : rows)
        urls << urlAt(row);
    auto* mime = new QMimeData;
    mime->setData(itemRowsMimeType(), urls.join(u'\n').toUtf8());
    return mime;
}
