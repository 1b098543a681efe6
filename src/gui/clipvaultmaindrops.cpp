// The main window's drops: rows of the item list dropped on a category, and files dropped from
// a file manager, which are imported.

#include "clipvaultmain.h"

#include "ui_clipvaultmain.h"

#include "catalogue.h"
#include "itemlistmodel.h"
#include "maincommands.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>

bool TClipVaultMain::tvwclassDragOver(QDropEvent* event) const
{
    // Only the item list's rows carry this format.
    return event->mimeData()->hasFormat(ItemListModel::itemRowsMimeType());
}

// Re-files the dragged rows under the node they are dropped on: "Deleted" marks them deleted,
// any other node files them there, downloaded when their file is there and to be downloaded
// when it is not (no item is ever downloaded without its file). Folders and files stay where
// they are.
void TClipVaultMain::tvwclassDragDrop(QDropEvent* event)
{
    const QModelIndex node = m_ui->tvwclass->indexAt(event->position().toPoint());
    if (!node.isValid() || !tvwclassDragOver(event))
        return;
    event->acceptProposedAction();
    refileSelectedRows(node);
}

void TClipVaultMain::refileSelectedRows(const QModelIndex& node)
{
    if (!node.isValid())
        return;
    const QString target = node.data().toString().trimmed();
    const bool deleting = target == QLatin1String(builtin::Deleted);
    const QStringList urls = selectedItemUrls();
    for (const QString& url : urls) {
        const int index = m_catalogue.FindItemByUrl(url);
        if (index < 0)
            continue;
        ItemRecord record = m_catalogue.item(index);
        SetFieldText(record.Category, target);
        const ItemState state = deleting                                   ? ItemState::Deleted
                                : QFileInfo(ItemFilePath(record)).isFile() ? ItemState::Downloaded
                                                                           : ItemState::New;
        record.State = static_cast<char>(state);
        m_catalogue.updateItem(index, record);
    }
    // The rows leave the list, also those that still belong to the node; it is not filled again.
    m_itemModel->removeRowsOf(urls);
    UpdateSelectionState();
}

namespace {

/// The local files a drag from a file manager carries; empty when it carries anything else.
QStringList droppedFiles(const QMimeData& data)
{
    QStringList files;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile())
            return {};
        files << url.toLocalFile();
    }
    return files;
}

} // namespace

void TClipVaultMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedFiles(*event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TClipVaultMain::dropEvent(QDropEvent* event)
{
    const QStringList files = droppedFiles(*event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    m_commands->importDropped(files);
}
