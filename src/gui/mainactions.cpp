#include "mainactions.h"

#include "icons.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

namespace {

using Id = MainActions::Id;
using Place = MainActions::Place;

struct ActionRow
{
    Id id;
    const char* name;
    const char* caption;
    QStyle::StandardPixmap image;
    bool checkable = false; ///< a switch: it shows a check mark instead of an image
};

// The command table.
constexpr ActionRow kActionTable[] = {
    {MainActions::AddFlashItemAction, "AddFlashItemAction", "Add a Flash Item",
     QStyle::SP_FileDialogNewFolder},
    {MainActions::DetectFlashfromUrl, "DetectFlashfromUrl", "DetectFlashFromUrl",
     QStyle::SP_DriveNetIcon},
    {MainActions::DetectFlashfromCache, "DetectFlashfromCache", "DetectFlashfromCache",
     QStyle::SP_DriveHDIcon},
    {MainActions::DetectFlashfromArchive, "DetectFlashfromArchive", "Detect from the web archive",
     QStyle::SP_DirHomeIcon},
    {MainActions::DetectFlashfromTab, "DetectFlashfromTab", "Detect from the browser tab",
     QStyle::SP_BrowserReload},
    {MainActions::ImportMovies, "ImportMovies", "Import movies…", QStyle::SP_DirOpenIcon},
    {MainActions::StartDownAction, "StartDownAction", "Download", QStyle::SP_ArrowDown},
    {MainActions::DeleteFlashItemAction, "DeleteFlashItemAction", "Delete this Flash Item",
     QStyle::SP_TrashIcon},
    {MainActions::ClearFlashItemAction, "ClearFlashItemAction", "Clear Flash Items",
     QStyle::SP_DialogResetButton},
    {MainActions::UpdateItemProperty, "UpdateItemProperty", "Property of Flash Item",
     QStyle::SP_FileDialogInfoView},
    {MainActions::ExploreItem, "ExploreItem", "ExploreItem", QStyle::SP_DirOpenIcon},
    {MainActions::PlayStandAlone, "PlayStandAlone", "Play stand-alone", QStyle::SP_MediaPlay},
    {MainActions::ExportItem, "ExportItem", "Export…", QStyle::SP_DialogSaveButton},
    {MainActions::AddCategoryAction, "AddCategoryAction", "Add a New Category",
     QStyle::SP_FileDialogNewFolder},
    {MainActions::DeleteCategoryAction, "DeleteCategoryAction", "Delete This Category",
     QStyle::SP_DialogDiscardButton},
    {MainActions::UpdateCatProperty, "UpdateCatProperty", "Property of Category",
     QStyle::SP_FileDialogDetailedView},
    {MainActions::SimpleFlashPlayer, "SimpleFlashPlayer1", "Simple Flash Player",
     QStyle::SP_MediaPlay},
    {MainActions::OpenBrowser, "OpenBrowser", "Open a browser for Clip Vault",
     QStyle::SP_ComputerIcon},
    {MainActions::ConnectBrowser, "ConnectBrowser", "Connect your browser…",
     QStyle::SP_DriveNetIcon},
    {MainActions::SearchAction, "SearchAction", "searchAction", QStyle::SP_FileDialogContentsView},
    {MainActions::Gallery, "Gallery", "Gallery", QStyle::SP_FileDialogContentsView, true},
    {MainActions::SetOptions, "SetOptions", "Options", QStyle::SP_CustomBase}, // our cog wheel
    {MainActions::ShowVaultBar1, "ShowVaultBar1", "Enable Shortcut Bar", QStyle::SP_CustomBase,
     true},
    {MainActions::ShowMiniWin1, "ShowMiniWin1", "Show Hanging Window", QStyle::SP_CustomBase, true},
    {MainActions::HelpManual, "HelpManual", "Help manual", QStyle::SP_DialogHelpButton},
    {MainActions::ShowAbout, "ShowAbout", "About", QStyle::SP_MessageBoxInformation},
    {MainActions::ExitAction, "ExitAction", "&Exit", QStyle::SP_DialogCloseButton},
};
static_assert(std::size(kActionTable) == MainActions::Count);

constexpr Id kSeparator = MainActions::Count;

struct PlacementRow
{
    Place place;
    const char* caption; ///< the entry's caption (a tool button's hint); null: the command's own
    Id id;
};

// Where each command is offered, in order.
constexpr PlacementRow kPlacements[] = {
    {Place::TaskMenu, "Add Task from a URL", MainActions::AddFlashItemAction},
    {Place::TaskMenu, "Detect from a URL", MainActions::DetectFlashfromUrl},
    {Place::TaskMenu, "Detect from Cache", MainActions::DetectFlashfromCache},
    {Place::TaskMenu, "Detect from the browser tab", MainActions::DetectFlashfromTab},
    {Place::TaskMenu, "Detect from the web archive", MainActions::DetectFlashfromArchive},
    {Place::TaskMenu, "Import movies…", MainActions::ImportMovies},
    {Place::TaskMenu, nullptr, kSeparator},
    {Place::TaskMenu, "Download", MainActions::StartDownAction},
    {Place::TaskMenu, nullptr, kSeparator},
    {Place::TaskMenu, "&Exit", MainActions::ExitAction},

    {Place::EditMenu, "Delete this Flash Item", MainActions::DeleteFlashItemAction},
    {Place::EditMenu, "Clear Flash Items", MainActions::ClearFlashItemAction},
    {Place::EditMenu, "Play stand-alone", MainActions::PlayStandAlone},
    {Place::EditMenu, "View Property", MainActions::UpdateItemProperty},
    {Place::EditMenu, nullptr, kSeparator},
    {Place::EditMenu, "Add a New Category", MainActions::AddCategoryAction},
    {Place::EditMenu, "Delete This Category", MainActions::DeleteCategoryAction},

    {Place::ToolsMenu, "Simple Flash Player", MainActions::SimpleFlashPlayer},
    {Place::ToolsMenu, nullptr, kSeparator},
    {Place::ToolsMenu, "search for ...", MainActions::SearchAction},
    {Place::ToolsMenu, "Gallery", MainActions::Gallery},
    {Place::ToolsMenu, nullptr, kSeparator},
    {Place::ToolsMenu, "Options", MainActions::SetOptions},
    {Place::ToolsMenu, nullptr, kSeparator},
    {Place::ToolsMenu, "Connect your browser…", MainActions::ConnectBrowser},
    {Place::ToolsMenu, "Open a browser for Clip Vault", MainActions::OpenBrowser},

    {Place::HelpMenu, "Help manual", MainActions::HelpManual},
    {Place::HelpMenu, nullptr, kSeparator},
    {Place::HelpMenu, "About", MainActions::ShowAbout},

    {Place::ToolBar, "Add a task", MainActions::AddFlashItemAction},
    {Place::ToolBar, "Detect from webpage", MainActions::DetectFlashfromUrl},
    {Place::ToolBar, "Detect from cache", MainActions::DetectFlashfromCache},
    {Place::ToolBar, nullptr, kSeparator},
    {Place::ToolBar, "Properties", MainActions::UpdateItemProperty},
    {Place::ToolBar, "Browse its folder", MainActions::ExploreItem},
    {Place::ToolBar, "Download this Item", MainActions::StartDownAction},
    {Place::ToolBar, "Delete", MainActions::DeleteFlashItemAction},
    {Place::ToolBar, nullptr, kSeparator},
    {Place::ToolBar, "Search in Download Log", MainActions::SearchAction},
    {Place::ToolBar, "Gallery", MainActions::Gallery},
    {Place::ToolBar, "Options", MainActions::SetOptions},
    {Place::ToolBar, "Exit", MainActions::ExitAction},

    {Place::AddTaskDropDown, "Add a task", MainActions::AddFlashItemAction},
    {Place::AddTaskDropDown, "Detect from webpage", MainActions::DetectFlashfromUrl},
    {Place::AddTaskDropDown, "Detect from cache", MainActions::DetectFlashfromCache},
    {Place::AddTaskDropDown, "Detect from the browser tab", MainActions::DetectFlashfromTab},
    {Place::AddTaskDropDown, "Detect from the web archive", MainActions::DetectFlashfromArchive},
    {Place::AddTaskDropDown, "Import movies…", MainActions::ImportMovies},

    {Place::ItemMenu, "Add a Flash Item", MainActions::AddFlashItemAction},
    {Place::ItemMenu, "Delete this Flash Item", MainActions::DeleteFlashItemAction},
    {Place::ItemMenu, "Clear Flash Items", MainActions::ClearFlashItemAction},
    {Place::ItemMenu, "Download", MainActions::StartDownAction},
    {Place::ItemMenu, "Play stand-alone", MainActions::PlayStandAlone},
    {Place::ItemMenu, "Property", MainActions::UpdateItemProperty},
    {Place::ItemMenu, nullptr, kSeparator},
    {Place::ItemMenu, "Export…", MainActions::ExportItem},

    {Place::TreeMenu, "Add a New Category", MainActions::AddCategoryAction},
    {Place::TreeMenu, "Delete This Category", MainActions::DeleteCategoryAction},
    {Place::TreeMenu, nullptr, kSeparator},
    {Place::TreeMenu, "Property", MainActions::UpdateCatProperty},

    {Place::TrayMenu, "Find in Current IE Window", MainActions::DetectFlashfromUrl},
    {Place::TrayMenu, "Detect from Cache", MainActions::DetectFlashfromCache},
    {Place::TrayMenu, "Detect from the browser tab", MainActions::DetectFlashfromTab},
    {Place::TrayMenu, nullptr, kSeparator},
    {Place::TrayMenu, nullptr, MainActions::ShowVaultBar1},
    {Place::TrayMenu, nullptr, MainActions::ShowMiniWin1},
    {Place::TrayMenu, "Options", MainActions::SetOptions},
    {Place::TrayMenu, nullptr, kSeparator},
    {Place::TrayMenu, "&Exit", MainActions::ExitAction},
};

/// An entry with a caption of its own: it triggers the command and follows its enabled state.
QAction* entryFor(QAction* command, const QString& caption, QObject* owner)
{
    if (caption.isEmpty() || caption == command->text())
        return command;
    auto* entry = new QAction(command->icon(), caption, owner);
    entry->setObjectName(command->objectName() + QStringLiteral("Entry"));
    entry->setEnabled(command->isEnabled());
    QObject::connect(command, &QAction::changed, entry,
                     [entry, command] { entry->setEnabled(command->isEnabled()); });
    QObject::connect(entry, &QAction::triggered, command, &QAction::trigger);
    return entry;
}

} // namespace

MainActions::MainActions(QObject* parent)
    : QObject(parent)
{
    for (const ActionRow& row : kActionTable) {
        const QIcon icon = row.checkable ? QIcon()
                           : row.image == QStyle::SP_CustomBase
                               ? Icons::settings()
                               : QApplication::style()->standardIcon(row.image);
        auto* action = new QAction(icon, QString::fromUtf8(row.caption), this);
        action->setObjectName(QLatin1String(row.name));
        action->setCheckable(row.checkable);
        m_actions[row.id] = action;
    }
}

void MainActions::fill(QMenu* menu, Place place) const
{
    for (const PlacementRow& row : kPlacements) {
        if (row.place != place)
            continue;
        if (row.id == kSeparator)
            menu->addSeparator();
        else
            menu->addAction(entryFor(m_actions[row.id], QString::fromUtf8(row.caption), menu));
    }
}

void MainActions::fill(QToolBar* toolBar) const
{
    for (const PlacementRow& row : kPlacements) {
        if (row.place != Place::ToolBar)
            continue;
        if (row.id == kSeparator) {
            toolBar->addSeparator();
            continue;
        }
        // A tool button shows its caption as its hint.
        QAction* button = entryFor(m_actions[row.id], QString::fromUtf8(row.caption), toolBar);
        toolBar->addAction(button);
        if (row.id == AddFlashItemAction) {
            auto* dropDown = new QMenu(toolBar);
            fill(dropDown, Place::AddTaskDropDown);
            auto* toolButton = qobject_cast<QToolButton*>(toolBar->widgetForAction(button));
            toolButton->setMenu(dropDown);
            toolButton->setPopupMode(QToolButton::MenuButtonPopup);
        }
    }
}
