#include "detectionrowmodel.h"

int DetectionRowModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int DetectionRowModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DetectionRowModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const ResultRow& row = m_rows[index.row()];
    if (role == Qt::CheckStateRole && index.column() == Address)
        return row.checked ? Qt::Checked : Qt::Unchecked;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case Address:
        return role == Qt::ToolTipRole && !row.note.isEmpty() ? row.address + u'\n' + row.note
                                                              : row.address;
    case SaveAs:
        return row.saveAs;
    case Category:
        return row.category;
    }
    return {};
}

bool DetectionRowModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::CheckStateRole || index.column() != Address)
        return false;
    setChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags DetectionRowModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == Address)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant DetectionRowModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const captions[] = {"Original URL", "Save as", "Category"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(captions[section])
                                                 : QVariant();
}

void DetectionRowModel::appendFrom(const DetectionResults& results, int from)
{
    const int count = static_cast<int>(results.rows().size());
    if (from >= count)
        return;
    beginInsertRows({}, rowCount(), rowCount() + count - from - 1);
    for (int i = from; i < count; ++i)
        m_rows.append(results.rows()[i]);
    endInsertRows();
}

void DetectionRowModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void DetectionRowModel::setChecked(int index, bool checked)
{
    if (m_rows[index].checked == checked)
        return;
    m_rows[index].checked = checked;
    const QModelIndex cell = this->index(index, Address);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

void DetectionRowModel::setCategory(int index, const QString& category)
{
    m_rows[index].category = category;
    const QModelIndex cell = this->index(index, Category);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void DetectionRowModel::setNote(int index, const QString& note)
{
    if (index < 0 || index >= m_rows.size())
        return;
    m_rows[index].note = note;
    emit dataChanged(this->index(index, Address), this->index(index, Address));
}
