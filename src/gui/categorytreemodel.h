#pragma once

#include <QStandardItemModel>

class Catalogue;

/// The category tree: the fixed nodes "ClipVault" (root), "Downloading", "Downloaded" and
/// "Deleted", and one child of "Downloaded" per user category. Only the user categories are
/// rebuilt at run time.
class CategoryTreeModel final : public QStandardItemModel
{
    Q_OBJECT
public:
    /// Role of a node's data: the category record's Tag.
    static constexpr int TagRole = Qt::UserRole + 1;

    explicit CategoryTreeModel(QObject* parent = nullptr);

    /// Rebuilds the children of "Downloaded" from the catalogue's user categories, in order.
    void RefreshCategoryTree(const Catalogue& catalogue);

    QModelIndex rootNode() const { return m_root->index(); }
    QModelIndex downloadingNode() const { return m_downloading->index(); }
    QModelIndex downloadedNode() const { return m_downloaded->index(); }

    /// The node at a position in tree order (root 0, Downloading 1, Downloaded 2, its children,
    /// then Deleted), or an invalid index.
    QModelIndex nodeAt(int treeOrderPosition) const;
    /// Number of nodes in the whole tree.
    int nodeCount() const;

private:
    QStandardItem* m_root;
    QStandardItem* m_downloading;
    QStandardItem* m_downloaded;
    QStandardItem* m_deleted;
};
