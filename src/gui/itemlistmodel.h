#pragma once

#include "itemfilter.h"

#include <QAbstractTableModel>

#include <optional>
#include <vector>

class Catalogue;

/// The rows of the item list: the catalogue items a tree node lists, in catalogue order, shown
/// with their file name, category, comment and source URL. The model holds no copy of the
/// records; it follows the catalogue's changes row by row (an item that now belongs to the node
/// comes in, one that no longer does leaves, positions move with removals). The URL column is a
/// row's key for every handler that acts on it.
/// A movie's name with the number of files kept with it, "game.swf  +3 files" (the name alone
/// when none are).
QString KeptFilesNote(const QString& name, int keptFiles);

class ItemListModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    /// The item's SHA-256 (hex), the key of its picture.
    static constexpr int ContentRole = Qt::UserRole + 1;
    /// What a failed download's tile says: "Download failed" and its reason; empty for others.
    static constexpr int FailureRole = Qt::UserRole + 2;
    enum Column
    {
        FileNameColumn,
        CategoryColumn,
        CommentColumn,
        UrlColumn,
        ColumnCount
    };

    explicit ItemListModel(const Catalogue& catalogue, QObject* parent = nullptr);

    /// Lists the items of the tree node with this text, every row anew.
    void showNode(const QString& nodeText);
    /// Lists the items the search finds, in catalogue order, and returns how many. When it finds
    /// none the list keeps its rows.
    int showSearch(const SearchFilter& search);
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
    /// Takes the rows of these URLs out of the list; the catalogue keeps the items.
    void removeRowsOf(const QStringList& urls);

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    /// Mime type of dragged item rows; its data are the rows' URLs, one a line.
    static QString itemRowsMimeType();

private:
    void fill();
    /// The row showing a catalogue position, or where it would go.
    std::vector<int>::iterator rowOf(int position);
    void itemAppended(int position);
    void itemChanged(int position);
    void itemsRemoved(const QList<int>& positions);

    /// Whether the item at `position` is one the list shows and takes in as it changes.
    bool belongs(int position) const;
    std::vector<int> found(const SearchFilter& search) const;

    const Catalogue& m_catalogue;
    /// What the list shows: a node's items or a search's; neither before a node is shown.
    std::optional<NodeFilter> m_node;
    std::optional<SearchFilter> m_search;
    std::vector<int> m_positions; ///< ascending catalogue positions
};
