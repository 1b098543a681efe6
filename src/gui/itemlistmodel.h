#pragma once

#include <QAbstractTableModel>

#include <vector>

class Catalogue;

/// The rows of the item list: positions of catalogue items, shown with their file name,
/// category, comment and source URL. The model holds no copy of the records; the URL column is
/// a row's key for every handler that acts on it.
class ItemListModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { FileNameColumn, CategoryColumn, CommentColumn, UrlColumn, ColumnCount };

    explicit ItemListModel(const Catalogue& catalogue, QObject* parent = nullptr);

    /// Replaces every row by the given item positions.
    void setItemPositions(std::vector<int> positions);
    /// Catalogue position shown in `row`, or -1.
    int itemPosition(int row) const;
    /// The row's key, its Source Url column.
    QString urlAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = {}) override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    /// Mime type of dragged item rows; its data are the rows' URLs, one a line.
    static QString itemRowsMimeType();

private:
    const Catalogue& m_catalogue;
    std::vector<int> m_positions;
};
