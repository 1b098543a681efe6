#pragma once

#include <QString>
#include <QStringList>

class QImage;
class QWidget;

/// What the main window's commands need of the window: the selected tree node and item rows,
/// the rows listed, a refill of the list, and a window to own their dialogs.
class ItemSelection
{
public:
    /// The text of the selected tree node; a null string when none is selected.
    virtual QString selectedNodeText() const = 0;
    /// The Source Urls of the selected rows, in list order.
    virtual QStringList selectedItemUrls() const = 0;
    /// The Source Urls of every row of the list, in list order.
    virtual QStringList listedItemUrls() const = 0;
    /// Fills the list anew for the selected node and selects its first row.
    virtual void RefreshItemList() = 0;
    virtual QWidget* dialogOwner() = 0;
    /// The preview's frame when it shows the movie `file`; a null image otherwise.
    virtual QImage previewFrameOf(const QString& file) = 0;

protected:
    ~ItemSelection() = default;
};
