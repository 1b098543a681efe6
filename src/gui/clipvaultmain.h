#pragma once

#include "browsersession.h"
#include "itemselection.h"

#include <QMainWindow>

#include <memory>

class Autostart;
class MovieFactsKeeper;
class PictureKeeper;
class MovieServer;
class Catalogue;
class CategoryTreeModel;
class Vault;
class DesktopOpen;
class FileDialogs;
class PreviewPane;
class MainCommands;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QMenu;
class HotKey;
class ItemGallery;
class QStackedWidget;
class ItemListModel;
class MainActions;
class TrayController;
class UserPrompt;
struct OptionsRecord;
struct SearchRequest;

namespace Ui {
class TClipVaultMain;
}

/// What the main window is a view of, and the services it asks the desktop through.
struct MainWindowServices
{
    Vault& app;
    MovieServer& movies; ///< the player's, tied to the vault
    HotKey& hotKey;
    Autostart& autostart;
    DesktopOpen& desktop;
    FileDialogs& dialogs;
    BrowserSources browser = {}; ///< empty: the windows ask no browser
    /// What is inside the movies, for a search that looks there; none: it does not.
    const MovieFactsKeeper* facts = nullptr;
    /// The pictures of the movies, drawn in the background; none: no pictures are drawn.
    PictureKeeper* pictures = nullptr;
};

/// The main window: a view of the program's catalogue that shows the category tree and the item
/// list of the selected node, lives in the tray, and has the catalogue written when it closes.
class TClipVaultMain final : public QMainWindow, public ItemSelection
{
    Q_OBJECT
public:
    explicit TClipVaultMain(const MainWindowServices& services, QWidget* parent = nullptr);
    ~TClipVaultMain() override;
    Q_DISABLE_COPY_MOVE(TClipVaultMain)

    MainActions& actions() const { return *m_actions; }
    TrayController& tray() const { return *m_tray; }
    CategoryTreeModel& treeModel() const { return *m_treeModel; }
    ItemListModel& itemModel() const { return *m_itemModel; }
    PreviewPane& preview() const { return *m_preview; }

    /// The Source Url of the first selected row of the item list; empty when none is selected.
    QString selectedItemUrl() const;
    QStringList selectedItemUrls() const override;
    QStringList listedItemUrls() const override;
    QString selectedNodeText() const override;
    QWidget* dialogOwner() override { return this; }
    QImage previewFrameOf(const QString& file) override;

    /// Brings the window up for the first time: maximized, or straight to the tray when the
    /// options say to start minimized or `inTray` asks for it (a start to play a movie).
    void showAtStart(bool inTray = false);
    /// Tells the user, once, about logs or options that could not be read whole.
    void showStartupNotice();

    /// Hides the window to the tray when it is shown, brings it back in front otherwise.
    void ToggleMainWindow();
    /// Whether the window is on screen and not minimized.
    bool isShownState() const;
    /// F7 cannot be had on this desktop: the user hears why, once.
    void hotKeyUnavailable(const QString& why);

    void RefreshCategoryTree();
    void RefreshItemList() override;
    /// Lists the items the request finds, counting them in it; when none is found the list
    /// keeps its rows. The tree, the info pane and the commands stay as they are.
    void SearchItems(SearchRequest& request);
    /// Enables the item commands by the selection and the selected node.
    void UpdateItemActions();
    /// The commands' states, and the empty info pane and stage when no row is selected.
    void UpdateSelectionState();
    /// Fills the info pane with the item's five properties.
    void ShowItemInfo(int index);
    /// Files the selected rows under a tree node, as dropping them there does: "Deleted" marks
    /// them deleted, any other node files them there as downloaded; the rows leave the list.
    void refileSelectedRows(const QModelIndex& node);
    /// Starts the preview's web engine; called once the window is up.
    void startPlayer();
    /// Makes the preview's web view, to start it later: the window is made anew for the view,
    /// which keeps its state only while the window is new.
    void createPlayerView();
    /// A passing word in the status bar (a wait for the web archive, a command's result).
    void showStatus(const QString& text);

signals:
    /// The window closed for good; the program ends.
    void closed();
    /// The window came on screen.
    void shown();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    /// Files and folders dropped on the window from a file manager are imported.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void setupViews();
    /// The gallery beside the item list, sharing its rows and selection.
    void setupGallery();
    /// Shows the items as the gallery or as the list.
    void showGallery(bool shown);
    /// Selects the list's row, as a click on it does.
    void selectListRow(int row);
    void selectFirstRowNotFailed();
    /// Widens the category pane so that the longest category name shows whole.
    void fitTreePane();
    /// The category pane's width the user gave it, kept in clipvault.conf across starts.
    int rememberedTreeWidth() const;
    void rememberTreeWidth() const;
    void buildMenusAndToolBar();
    void connectCommands();
    void lvFlashItemsListDblClick();
    void lvFlashItemsListSelectItem();
    bool tvwclassDragOver(QDropEvent* event) const;
    void tvwclassDragDrop(QDropEvent* event);
    void showDownloadProgress(const QString& fileName, qint64 totalSize, qint64 received);
    void minimizeToTray();
    void restoreFromTray();
    void tvwclassChange();
    void SetOptionsExecute();
    void SearchActionExecute();

    std::unique_ptr<Ui::TClipVaultMain> m_ui;
    Vault& m_app;
    bool m_treeWidthRestored = false; ///< the pane took its remembered width on the first show
    bool m_treeWidthMoved = false;    ///< the user moved the pane's edge
    bool m_itemsHeightMoved = false;  ///< the user moved the edge below the list or gallery
    Catalogue& m_catalogue;
    const OptionsRecord& m_options;
    UserPrompt& m_prompt;
    const MovieFactsKeeper* m_facts;
    PictureKeeper* m_pictures;
    HotKey& m_hotKey;
    Autostart& m_autostart;
    bool m_startupNoticeShown = false;
    MainActions* m_actions;
    TrayController* m_tray;
    CategoryTreeModel* m_treeModel;
    ItemListModel* m_itemModel;
    PreviewPane* m_preview;
    MainCommands* m_commands;
    QMenu* m_itemMenu;
    QMenu* m_treeMenu;
    QLabel* m_progressLabel;
    QLabel* m_picturesLabel;
    ItemGallery* m_gallery;      ///< the items as a grid of pictures
    QStackedWidget* m_itemViews; ///< the list or the gallery
    /// The state the user last chose, minimized aside: the window comes back to it from the tray
    /// and keeps it when the native window is created anew.
    Qt::WindowStates m_userState = Qt::WindowMaximized;
    bool m_recreating = false; ///< the native window is being created anew
    /// Put away by F7 or the tray until brought back. Meanwhile the window manager's reports are
    /// replies to that request (minimizing a maximized window passes through unmaximized states
    /// on the way), not a state the user chose.
    bool m_putAway = false;
};
