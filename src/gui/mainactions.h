#pragma once

#include <QObject>

#include <array>

class QAction;
class QMenu;
class QToolBar;

/// The main window's commands, one QAction each, shared by the menus, the tool bar, the context
/// menus and the tray menu. Each action's object name is its command name.
class MainActions final : public QObject
{
    Q_OBJECT
public:
    enum Id
    {
        AddFlashItemAction,
        DetectFlashfromUrl,
        DetectFlashfromCache,
        DetectFlashfromTab,     ///< the browser's visible tab's movies
        DetectFlashfromArchive, ///< the movies the web archive holds under an address
        ImportMovies,           ///< movies already on disk
        StartDownAction,
        DeleteFlashItemAction,
        ClearFlashItemAction,
        UpdateItemProperty,
        ExploreItem,
        PlayStandAlone,
        ExportItem, ///< the item with its kept files, for other players
        AddCategoryAction,
        DeleteCategoryAction,
        UpdateCatProperty,
        SimpleFlashPlayer,
        OpenBrowser,
        ConnectBrowser, ///< the browser companion: what is connected, what to do
        SearchAction,
        Gallery, ///< the switch between the item list and the grid of pictures
        SetOptions,
        ShowVaultBar1, ///< the tray's switch of the shortcut bar, checked while it is enabled
        ShowMiniWin1,  ///< the tray's switch of the hanging window, checked while it is shown
        HelpManual,
        ShowAbout,
        ExitAction,
        Count,
    };

    /// Where commands are offered.
    enum class Place
    {
        TaskMenu,
        EditMenu,
        ToolsMenu,
        HelpMenu,
        ToolBar,
        AddTaskDropDown,
        ItemMenu,
        TreeMenu,
        TrayMenu ///< after its own "Show/Hide Clip Vault (F7)"
    };

    explicit MainActions(QObject* parent = nullptr);

    QAction* action(Id id) const { return m_actions[id]; }

    /// Adds the entries of a place, in order, with their own captions (tool buttons show them as
    /// hints). An entry with a caption of its own triggers and follows its command.
    void fill(QMenu* menu, Place place) const;
    void fill(QToolBar* toolBar) const;

private:
    std::array<QAction*, Count> m_actions{};
};
