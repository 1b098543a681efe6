#include "categorytreemodel.h"

#include "catalogue.h"
#include "icons.h"

namespace {

QStandardItem* makeNode(const QString& text, Icons::TreeImage image)
{
    auto* node = new QStandardItem(Icons::treeImage(image), text);
    node->setEditable(false);
    node->setDropEnabled(true);
    return node;
}

} // namespace

CategoryTreeModel::CategoryTreeModel(QObject* parent)
    : QStandardItemModel(parent)
    , m_root(makeNode(QStringLiteral("ClipVault"), Icons::TreeImage::Root))
    , m_downloading(makeNode(QLatin1String(builtin::Downloading), Icons::TreeImage::Downloading))
    , m_downloaded(makeNode(QLatin1String(builtin::Downloaded), Icons::TreeImage::Downloaded))
    , m_deleted(makeNode(QLatin1String(builtin::Deleted), Icons::TreeImage::Deleted))
{
    m_root->appendRow(m_downloading);
    m_root->appendRow(m_downloaded);
    m_root->appendRow(m_deleted);
    appendRow(m_root);
}

void CategoryTreeModel::RefreshCategoryTree(const Catalogue& catalogue)
{
    if (m_downloaded->rowCount() > 0)
        m_downloaded->removeRows(0, m_downloaded->rowCount());
    QList<QStandardItem*> nodes;
    for (const CategoryRecord& category : catalogue.categories()) {
        if (IsBuiltInCategory(FieldBytes(category.Name)))
            continue;
        QStandardItem* node = makeNode(FieldText(category.Name), Icons::TreeImage::Category);
        node->setData(category.Tag, TagRole);
        nodes << node;
    }
    // One insertion, so that views lay the tree out once however many categories there are.
    m_downloaded->appendRows(nodes);
}

QModelIndex CategoryTreeModel::nodeAt(int position) const
{
    if (position < 0)
        return {};
    if (position <= 2)
        return (position == 0 ? m_root : position == 1 ? m_downloading : m_downloaded)->index();
    const int child = position - 3;
    if (child < m_downloaded->rowCount())
        return m_downloaded->child(child)->index();
    return child == m_downloaded->rowCount() ? m_deleted->index() : QModelIndex();
}

int CategoryTreeModel::nodeCount() const
{
    return 4 + m_downloaded->rowCount();
}
