#include "clipvaultmain.h"

#include "ui_clipvaultmain.h"

#include "autostart.h"
#include "catalogue.h"
#include "datafolder.h"
#include "categorytreemodel.h"
#include "vault.h"
#include "downloadflow.h"
#include "frmsearch.h"
#include "hotkey.h"
#include "icons.h"
#include "itemfilter.h"
#include "itemgallery.h"
#include "itemlistmodel.h"
#include "moviefactskeeper.h"
#include "picturekeeper.h"
#include "keptfiles.h"
#include "mainactions.h"
#include "maincommands.h"
#include "optionform.h"
#include "options.h"
#include "platformfactory.h"
#include "previewpane.h"
#include "traycontroller.h"
#include "urlresolve.h"
#include "userprompt.h"
#include "windowstyle.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QHeaderView>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QTimer>
#include <QSplitter>
#include <QStackedWidget>

TClipVaultMain::TClipVaultMain(const MainWindowServices& services, QWidget* parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::TClipVaultMain>())
    , m_app(services.app)
    , m_catalogue(services.app.catalogue())
    , m_options(services.app.options())
    , m_prompt(services.app.prompt())
    , m_facts(services.facts)
    , m_pictures(services.pictures)
    , m_hotKey(services.hotKey)
    , m_autostart(services.autostart)
    , m_actions(new MainActions(this))
    , m_tray(new TrayController(*m_actions, this))
    , m_treeModel(new CategoryTreeModel(this))
    , m_itemModel(new ItemListModel(m_catalogue, this))
    , m_preview(nullptr)
    , m_commands(new MainCommands(*this, services.app, services.movies, services.desktop,
                                  services.dialogs, services.browser, this))
    , m_itemMenu(new QMenu(this))
    , m_treeMenu(new QMenu(this))
    , m_progressLabel(new QLabel(this))
    , m_picturesLabel(new QLabel(this))
    , m_gallery(new ItemGallery(services.pictures, this))
{
    m_ui->setupUi(this);
    m_preview = new PreviewPane(services.movies, m_app, m_prompt, services.dialogs,
                                m_ui->previewPlace, services.facts);
    m_ui->previewPlace->layout()->addWidget(m_preview);
    setWindowIcon(Icons::application());
    setupViews();
    buildMenusAndToolBar();
    connectCommands();
    FormCreate();
}

TClipVaultMain::~TClipVaultMain()
{
    m_hotKey.unregisterKey();
}

void TClipVaultMain::setupViews()
{
    m_ui->tvwclass->setModel(m_treeModel);
    // A long category name is shown whole, with a scroll bar when the pane is narrower.
    m_ui->tvwclass->header()->setStretchLastSection(false);
    m_ui->tvwclass->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_ui->lvFlashItemsList->setModel(m_itemModel);
    const int widths[] = {150, 100, 355, 200};
    for (int column = 0; column < ItemListModel::ColumnCount; ++column)
        m_ui->lvFlashItemsList->setColumnWidth(column, widths[column]);
    setupGallery();
    // Grid lines between the facts and their values, as in a property sheet.
    m_ui->lvItemInfo->setStyleSheet(
        QStringLiteral("QTreeWidget#lvItemInfo::item { border-right: 1px solid palette(midlight);"
                       " border-bottom: 1px solid palette(midlight); }"));
    m_ui->lvItemInfo->setColumnWidth(0, 100);
    m_ui->lvItemInfo->setColumnWidth(1, 260);
    m_ui->splitterTree->setSizes({177, 850});
    connect(m_treeModel, &QAbstractItemModel::modelReset, this, &TClipVaultMain::fitTreePane);
    connect(m_treeModel, &QAbstractItemModel::rowsInserted, this, &TClipVaultMain::fitTreePane);
    connect(m_treeModel, &QAbstractItemModel::dataChanged, this, &TClipVaultMain::fitTreePane);
    fitTreePane();
    m_ui->splitterList->setSizes({193, 450});
    m_ui->splitterInfo->setSizes({369, 480});
    m_ui->splitterTree->setStretchFactor(1, 1);
    m_ui->splitterList->setStretchFactor(1, 1);
    m_ui->splitterInfo->setStretchFactor(1, 1);

    connect(m_ui->tvwclass->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TClipVaultMain::tvwclassChange);
    m_ui->lvFlashItemsList->installEventFilter(this);
    // Items are re-filed by dropping them on tree nodes; the drop reaches the tree's viewport.
    m_ui->tvwclass->viewport()->setAcceptDrops(true);
    m_ui->tvwclass->viewport()->installEventFilter(this);
    setAcceptDrops(true);
    connect(m_tray, &TrayController::toggleRequested, this, &TClipVaultMain::ToggleMainWindow);
    connect(&m_hotKey, &HotKey::activated, this, &TClipVaultMain::ToggleMainWindow);
    connect(&m_hotKey, &HotKey::unavailable, this, &TClipVaultMain::hotKeyUnavailable);
    connect(&m_catalogue, &Catalogue::categoriesChanged, this,
            &TClipVaultMain::RefreshCategoryTree);
    // The facts inside the selected movie come into the info pane once they are read.
    if (m_facts)
        connect(m_facts, &MovieFactsKeeper::gathered, this, [this] {
            if (const int index = m_catalogue.FindItemByUrl(selectedItemUrl()); index >= 0)
                ShowItemInfo(index);
        });
    // A row that changed under the selection shows its new values in the info pane.
    connect(&m_catalogue, &Catalogue::itemChanged, this, [this](int index) {
        if (m_catalogue.FindItemByUrl(selectedItemUrl()) == index)
            ShowItemInfo(index);
    });
}

void TClipVaultMain::setupGallery()
{
    // The gallery is a second view of the list's rows and selection: the commands, the context
    // menu and dragging rows act on either alike.
    m_gallery->setModel(m_itemModel);
    QItemSelectionModel* own = m_gallery->selectionModel();
    m_gallery->setSelectionModel(m_ui->lvFlashItemsList->selectionModel());
    delete own;
    m_gallery->setModelColumn(ItemListModel::FileNameColumn);
    m_gallery->installEventFilter(this);
    auto* views = new QStackedWidget(this);
    views->setObjectName(QStringLiteral("itemViews"));
    m_ui->splitterList->replaceWidget(m_ui->splitterList->indexOf(m_ui->lvFlashItemsList), views);
    views->addWidget(m_ui->lvFlashItemsList);
    views->addWidget(m_gallery);
    m_itemViews = views;
}

void TClipVaultMain::showGallery(bool shown)
{
    m_itemViews->setCurrentWidget(shown ? static_cast<QWidget*>(m_gallery)
                                        : m_ui->lvFlashItemsList);
    m_actions->action(MainActions::Gallery)->setChecked(shown);
    const QModelIndex current = m_ui->lvFlashItemsList->currentIndex();
    if (current.isValid()) {
        if (shown)
            m_gallery->scrollTo(current);
        else
            m_ui->lvFlashItemsList->scrollTo(current);
    }
}

void TClipVaultMain::buildMenusAndToolBar()
{
    using Place = MainActions::Place;
    m_actions->fill(m_ui->menuTask, Place::TaskMenu);
    m_actions->fill(m_ui->menuEdit, Place::EditMenu);
    m_actions->fill(m_ui->menuTools, Place::ToolsMenu);
    m_actions->fill(m_ui->menuHelp, Place::HelpMenu);
    m_actions->fill(m_ui->ToolBar1);
    m_itemMenu->setObjectName(QStringLiteral("popitem"));
    m_actions->fill(m_itemMenu, Place::ItemMenu);
    m_treeMenu->setObjectName(QStringLiteral("poptreeview"));
    m_actions->fill(m_treeMenu, Place::TreeMenu);

    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(m_ui->lvFlashItemsList),
                                    static_cast<QAbstractItemView*>(m_gallery)}) {
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& at) {
            m_itemMenu->popup(view->viewport()->mapToGlobal(at));
        });
    }
    connect(m_ui->tvwclass, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        m_treeMenu->popup(m_ui->tvwclass->viewport()->mapToGlobal(at));
    });

    // The status bar shows the running download or import, and at its right the pictures
    // being drawn.
    m_progressLabel->setObjectName(QStringLiteral("lblDownloadProgress"));
    m_ui->StatusBar1->addWidget(m_progressLabel, 1);
    m_picturesLabel->setObjectName(QStringLiteral("lblPictures"));
    m_ui->StatusBar1->addPermanentWidget(m_picturesLabel);
    if (m_pictures)
        connect(m_pictures, &PictureKeeper::progress, this, [this](int done, int total) {
            m_picturesLabel->setText(
                done < total ? QStringLiteral("Drawing pictures: %1 of %2").arg(done).arg(total)
                             : QString());
        });
}

void TClipVaultMain::connectCommands()
{
    auto bind = [this](MainActions::Id id, auto handler) {
        connect(m_actions->action(id), &QAction::triggered, this, handler);
    };
    bind(MainActions::AddFlashItemAction, [this] { m_commands->AddFlashItemActionExecute(); });
    bind(MainActions::DetectFlashfromUrl, [this] { m_commands->DetectFlashfromUrlExecute(); });
    bind(MainActions::DetectFlashfromCache, [this] { m_commands->DetectFlashfromCacheExecute(); });
    bind(MainActions::DetectFlashfromTab, [this] { m_commands->DetectFlashfromTabExecute(); });
    bind(MainActions::DetectFlashfromArchive,
         [this] { m_commands->detect(DetectSource::WebArchive); });
    bind(MainActions::ImportMovies, [this] { m_commands->ImportMoviesExecute(); });
    bind(MainActions::StartDownAction, [this] { m_commands->StartDownActionExecute(); });
    bind(MainActions::UpdateItemProperty, [this] { m_commands->UpdateItemPropertyExecute(); });
    bind(MainActions::AddCategoryAction, [this] { m_commands->AddCategoryActionExecute(); });
    bind(MainActions::DeleteCategoryAction, [this] { m_commands->DeleteCategoryActionExecute(); });
    bind(MainActions::UpdateCatProperty, [this] { m_commands->UpdateCatPropertyExecute(); });
    bind(MainActions::DeleteFlashItemAction,
         [this] { m_commands->DeleteFlashItemActionExecute(); });
    bind(MainActions::ClearFlashItemAction, [this] { m_commands->ClearFlashItemActionExecute(); });
    bind(MainActions::ExploreItem, [this] { m_commands->ExploreItemExecute(); });
    bind(MainActions::PlayStandAlone, [this] { m_commands->PlayStandAloneExecute(); });
    bind(MainActions::ExportItem, [this] { m_commands->ExportItemExecute(); });
    bind(MainActions::SimpleFlashPlayer, [this] { m_commands->SimpleFlashPlayer1Click(); });
    bind(MainActions::OpenBrowser, [this] { m_commands->OpenBrowserExecute(); });
    bind(MainActions::ConnectBrowser, [this] { m_commands->ConnectBrowserExecute(); });
    bind(MainActions::SearchAction, [this] { SearchActionExecute(); });
    bind(MainActions::Gallery, [this](bool shown) {
        showGallery(shown);
        SaveGalleryChoice(m_app.dataFolder(), shown);
    });
    bind(MainActions::SetOptions, [this] { SetOptionsExecute(); });
    bind(MainActions::HelpManual, [this] { m_commands->HelpManualExecute(); });
    bind(MainActions::ShowAbout, [this] { m_commands->ShowAboutExecute(); });
    connect(m_commands, &MainCommands::statusMessage, this, &TClipVaultMain::showStatus);
    bind(MainActions::ExitAction, [this] { close(); });

    connect(m_ui->lvFlashItemsList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TClipVaultMain::lvFlashItemsListSelectItem);
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(m_ui->lvFlashItemsList),
                                    static_cast<QAbstractItemView*>(m_gallery)}) {
        connect(view, &QAbstractItemView::clicked, this, &TClipVaultMain::UpdateSelectionState);
        connect(view, &QAbstractItemView::doubleClicked, this,
                &TClipVaultMain::lvFlashItemsListDblClick);
    }
    connect(&m_app.downloads(), &DownloadFlow::progress, this,
            &TClipVaultMain::showDownloadProgress);
    connect(&m_app.downloads(), &DownloadFlow::finished, m_progressLabel, &QLabel::clear);
    connect(&m_app.imports(), &ImportQueue::progress, this,
            [this](const QString& source, int done, int total) {
                m_progressLabel->setText(QStringLiteral("Importing %1: %2 of %3 files")
                                             .arg(QDir::toNativeSeparators(source))
                                             .arg(done)
                                             .arg(total));
            });
    connect(&m_app.imports(), &ImportQueue::finished, this, [this](const ImportSummary& summary) {
        m_progressLabel->clear();
        showStatus(QStringLiteral("Import: ") + summary.text(0));
    });
}

// The creation sequence, on a vault already opened: the options applied, the views, and the
// hot key last.
void TClipVaultMain::FormCreate()
{
    ApplyWindowStyle(m_options.XPStyle != 0);

    // The tree shows the categories read already, and follows them from here on.
    RefreshCategoryTree();
    m_ui->tvwclass->expandAll();

    if (m_treeModel->nodeCount() > 2) {
        m_ui->tvwclass->setCurrentIndex(m_treeModel->nodeAt(1));
        selectFirstRowNotFailed();
    }

    UpdateItemActions();
    showGallery(LoadVaultSettings(m_app.dataFolder()).gallery);

    if (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();

    m_hotKey.registerKey();
}

QString TClipVaultMain::selectedNodeText() const
{
    const QModelIndex node = m_ui->tvwclass->currentIndex();
    if (!node.isValid())
        return {};
    const QString text = node.data(Qt::DisplayRole).toString();
    return text.isNull() ? QStringLiteral("") : text;
}

QString TClipVaultMain::selectedItemUrl() const
{
    return selectedItemUrls().value(0);
}

QStringList TClipVaultMain::selectedItemUrls() const
{
    QModelIndexList rows = m_ui->lvFlashItemsList->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QStringList urls;
    for (const QModelIndex& row : rows)
        urls << m_itemModel->urlAt(row.row());
    return urls;
}

QStringList TClipVaultMain::listedItemUrls() const
{
    QStringList urls;
    for (int row = 0; row < m_itemModel->rowCount(); ++row)
        urls << m_itemModel->urlAt(row);
    return urls;
}

void TClipVaultMain::UpdateItemActions()
{
    const bool rowSelected = m_ui->lvFlashItemsList->selectionModel()->hasSelection();
    const QString node = selectedNodeText();
    const bool downloading = node == QLatin1String(builtin::Downloading);
    // A movie of this machine is never downloaded.
    const QStringList selected = rowSelected ? selectedItemUrls() : QStringList();
    const bool local = std::any_of(selected.cbegin(), selected.cend(),
                                   [](const QString& url) { return IsLocalAddress(url); });
    m_actions->action(MainActions::StartDownAction)
        ->setEnabled(rowSelected && downloading && !local);
    for (MainActions::Id id : {MainActions::DeleteFlashItemAction, MainActions::UpdateItemProperty,
                               MainActions::ExploreItem})
        m_actions->action(id)->setEnabled(rowSelected);
    m_actions->action(MainActions::PlayStandAlone)->setEnabled(rowSelected && !downloading);
    m_actions->action(MainActions::ExportItem)->setEnabled(rowSelected && !downloading);
}

void TClipVaultMain::UpdateSelectionState()
{
    UpdateItemActions();
    if (m_ui->lvFlashItemsList->selectionModel()->hasSelection())
        return;
    m_ui->lvItemInfo->clear();
    m_preview->showNothing();
}

QImage TClipVaultMain::previewFrameOf(const QString& file)
{
    return m_preview->frameOf(file);
}

void TClipVaultMain::ShowItemInfo(int index)
{
    const ItemRecord& item = m_catalogue.item(index);
    QTreeWidget* info = m_ui->lvItemInfo;
    info->setUpdatesEnabled(false);
    info->clear();
    const std::pair<const char*, QString> rows[] = {
        {"Source URL", FieldText(item.Url)},    {"Save as", ItemShownFileName(item)},
        {"Category", FieldText(item.Category)}, {"Path", ItemShownFolder(item)},
        {"Comment", FieldText(item.Comment)},
    };
    for (const auto& [caption, value] : rows)
        new QTreeWidgetItem(info, {QString::fromLatin1(caption), value});
    if (const QString failed = DownloadFailureText(item); !failed.isEmpty())
        new QTreeWidgetItem(info,
                            {QStringLiteral("Download failed"),
                             item.extras.failure.isEmpty() ? QStringLiteral("(no reason kept)")
                                                           : item.extras.failure});
    // What the side store knows, when it knows it.
    if (item.extras.keptFiles > 0)
        new QTreeWidgetItem(
            info, {QStringLiteral("Kept files"),
                   KeptFilesNote({}, item.extras.keptFiles).trimmed() + QStringLiteral(" (in ") +
                       QFileInfo(KeptFolderOf(ItemFilePath(item))).fileName() + u')'});
    if (!item.extras.archivedFrom.isEmpty())
        new QTreeWidgetItem(info, {QStringLiteral("From the web archive"),
                                   item.extras.archivedFrom + QStringLiteral(" (") +
                                       CaptureDateText(item.extras.archivedAt) + u')'});
    if (!item.extras.sha256.isEmpty())
        new QTreeWidgetItem(info,
                            {QStringLiteral("SHA-256"), QString::fromLatin1(item.extras.sha256)});
    // What is inside the movie, once it was read.
    if (const SwfContents* inside = m_facts ? m_facts->factsOf(item) : nullptr) {
        for (const auto& [caption, value] : InsideFactsRows(*inside))
            new QTreeWidgetItem(info, {caption, value});
    }
    info->setUpdatesEnabled(true);
}

void TClipVaultMain::lvFlashItemsListSelectItem()
{
    const int index = m_catalogue.FindItemByUrl(selectedItemUrl());
    if (index < 0) {
        // The selected rows left the list (their items settled or were re-filed meanwhile).
        UpdateSelectionState();
        return;
    }
    UpdateItemActions();
    ShowItemInfo(index);
    m_preview->showItem(m_catalogue.item(index));
}

void TClipVaultMain::lvFlashItemsListDblClick()
{
    const QString node = selectedNodeText();
    if (node == QLatin1String(builtin::Downloading))
        m_commands->UpdateItemPropertyExecute();
    else if (node == QLatin1String(builtin::Downloaded))
        m_commands->PlayStandAloneExecute();
}

void TClipVaultMain::startPlayer()
{
    m_preview->start();
}

void TClipVaultMain::createPlayerView()
{
    m_preview->createView();
}

bool TClipVaultMain::event(QEvent* event)
{
    // The web view makes Qt create the window anew for GPU composition, and the window manager
    // does not carry the old window's state over: the state the user had is set again on the new
    // window once it is up (state changes meanwhile are the window manager's, not the user's).
    if (event->type() == QEvent::WinIdChange && isVisible() && !m_recreating) {
        m_recreating = true;
        QTimer::singleShot(300, this, [this] {
            m_recreating = false;
            if (isVisible() && !isMinimized() && windowState() != m_userState)
                setWindowState(m_userState);
        });
    }
    // Brought back from the taskbar and in use again: its state changes are the user's once more.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !isMinimized())
        m_putAway = false;
    return QMainWindow::event(event);
}

bool TClipVaultMain::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == m_ui->lvFlashItemsList || watched == m_gallery) &&
        event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        m_commands->DeleteFlashItemActionExecute();
        return true;
    }
    if (watched == m_ui->tvwclass->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (tvwclassDragOver(drag))
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
        case QEvent::Drop:
            tvwclassDragDrop(static_cast<QDropEvent*>(event));
            return true;
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TClipVaultMain::showStatus(const QString& text)
{
    statusBar()->showMessage(text, 10000);
}

void TClipVaultMain::showDownloadProgress(const QString& fileName, qint64 totalSize,
                                          qint64 received)
{
    const QLocale locale;
    if (totalSize > 0) {
        m_progressLabel->setText(
            QStringLiteral("Downloading %1: %2% (%3 of %4)")
                .arg(fileName)
                .arg(received * 100 / totalSize)
                .arg(locale.formattedDataSize(received), locale.formattedDataSize(totalSize)));
    } else {
        m_progressLabel->setText(
            QStringLiteral("Downloading %1: %2").arg(fileName, locale.formattedDataSize(received)));
    }
}

void TClipVaultMain::RefreshCategoryTree()
{
    m_ui->tvwclass->setUpdatesEnabled(false);
    m_treeModel->RefreshCategoryTree(m_catalogue);
    m_ui->tvwclass->expand(m_treeModel->downloadedNode());
    m_ui->tvwclass->setUpdatesEnabled(true);
}

void TClipVaultMain::RefreshItemList()
{
    if (!m_ui->tvwclass->currentIndex().isValid())
        return;
    QTreeView* list = m_ui->lvFlashItemsList;
    list->setUpdatesEnabled(false);
    m_itemModel->showNode(selectedNodeText());
    list->setUpdatesEnabled(true);
    if (m_itemModel->rowCount() > 0)
        selectListRow(0);
    UpdateSelectionState();
}

void TClipVaultMain::selectListRow(int row)
{
    QTreeView* list = m_ui->lvFlashItemsList;
    const QModelIndex chosen = m_itemModel->index(row, 0);
    list->selectionModel()->setCurrentIndex(chosen, QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
    list->scrollTo(chosen);
}

void TClipVaultMain::selectFirstRowNotFailed()
{
    // A download that failed would otherwise greet the user at every start.
    for (int row = 0; row < m_itemModel->rowCount(); ++row) {
        if (m_catalogue.item(m_itemModel->itemPosition(row)).state() != ItemState::Failed) {
            selectListRow(row);
            return;
        }
    }
}

void TClipVaultMain::tvwclassChange()
{
    RefreshItemList();
}

void TClipVaultMain::SetOptionsExecute()
{
    // The tray switches, the bar and the preview follow the options; the window and the
    // autostart entry are this window's to apply.
    if (!EditVaultOptions(m_app, this, &m_autostart))
        return;
    ApplyWindowStyle(m_app.options().XPStyle != 0);
}

void TClipVaultMain::SearchActionExecute()
{
    // Every search starts afresh: no text, every field.
    SearchRequest request;
    request.inFileName = request.inUrl = request.inComment = true;
    ShowSearchDialog(request, this);
    // A cancelled dialog leaves the text empty, which finds nothing.
    SearchItems(request);
}

void TClipVaultMain::SearchItems(SearchRequest& request)
{
    QTreeView* list = m_ui->lvFlashItemsList;
    list->setUpdatesEnabled(false);
    MovieFactsLookup inside;
    if (m_facts)
        inside = [facts = m_facts](const ItemRecord& item) {
            return facts->factsOf(item);
        };
    const int found = m_itemModel->showSearch(SearchFilter(request, inside));
    request.matches += found;
    list->setUpdatesEnabled(true);
    // The info pane and the preview follow the first result rather than an item no longer
    // listed.
    if (found > 0)
        selectListRow(0);
}
