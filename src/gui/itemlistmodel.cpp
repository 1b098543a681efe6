#include "itemlistmodel.h"

#include "catalogue.h"
#include "icons.h"

#include <QMimeData>

#include <set>


ItemListModel::ItemListModel(const Catalogue& catalogue, QObject* parent)
    : QAbstractTableModel(parent)
    , m_catalogue(catalogue)
{
}

void ItemListModel::setItemPositions(std::vector<int> positions)
{
    beginResetModel();
    m_positions = std::move(positions);
    endResetModel();
}

int ItemListModel::itemPosition(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_positions.size()))
        return -1;
    const int position = m_positions[static_cast<std::size_t>(row)];
    return position < m_catalogue.itemCount() ? position : -1;
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
            return FieldText(item.FileName);
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
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
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
