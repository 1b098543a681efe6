// How the main window comes up, goes away and comes back: its start, F7 and the tray (on
// Wayland hidden rather than minimized), the category pane's remembered width, and its close.

#include "clipvaultmain.h"

#include "ui_clipvaultmain.h"

#include "vault.h"
#include "datafolder.h"
#include "hotkey.h"
#include "options.h"
#include "platformfactory.h"
#include "traycontroller.h"
#include "userprompt.h"

#include <QCloseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QTimer>

void TClipVaultMain::showAtStart(bool inTray)
{
    // Centred on the screen: where the window comes back to when it is no longer maximized.
    if (const QScreen* display = screen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        display->availableGeometry()));
    if (inTray || m_options.StartMinimized) {
        if (m_tray->isAvailable())
            return; // reached through the tray icon and F7 only
        showMinimized();
        return;
    }
    m_userState = Qt::WindowMaximized;
    showMaximized();
}

void TClipVaultMain::showStartupNotice()
{
    if (m_startupNoticeShown)
        return;
    m_startupNoticeShown = true;
    if (const QString notice = m_app.startupNotice(); !notice.isEmpty())
        m_prompt.inform(notice, QStringLiteral("Information"));
}

bool TClipVaultMain::isShownState() const
{
    // A Wayland client cannot read or undo its minimized state: there, shown means visible.
    return isVisible() && (platform::isWayland() || !isMinimized());
}

void TClipVaultMain::hotKeyUnavailable(const QString& why)
{
    // Told once, not at every start: the tray and the hanging window still bring the window back.
    if (NoticeIsNew(m_app.dataFolder(), QStringLiteral("shortcutnotice"), why))
        m_prompt.notify(QStringLiteral("F7 cannot show or hide Clip Vault: %1. The tray icon and "
                                       "the hanging window still bring it back.")
                            .arg(why),
                        QStringLiteral("Information"));
}

void TClipVaultMain::ToggleMainWindow()
{
    if (isShownState())
        minimizeToTray();
    else
        restoreFromTray();
}

void TClipVaultMain::minimizeToTray()
{
    m_putAway = true;
    // Without a tray to come back from, a minimized window keeps its taskbar button; a Wayland
    // client cannot undo its minimizing, so there it hides.
    if (m_tray->isAvailable() || platform::isWayland())
        hide();
    else
        showMinimized();
}

void TClipVaultMain::restoreFromTray()
{
    m_putAway = false;
    if (m_userState & Qt::WindowMaximized)
        showMaximized();
    else if (m_userState & Qt::WindowFullScreen)
        showFullScreen();
    else
        showNormal();
    raise();
    activateWindow();
}

void TClipVaultMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !m_recreating && !m_putAway &&
        !isMinimized() && isVisible())
        m_userState = windowState();
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || !m_tray->isAvailable())
        return;
    // Minimized by the title bar's button: leave the taskbar, as the tray icon stays.
    QTimer::singleShot(0, this, [this] {
        if (isMinimized())
            hide();
    });
}

void TClipVaultMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Sizes set before the first show are shares of a window not laid out yet: the pane takes
    // its width now, the user's own or else one that shows every name whole.
    if (!m_treeWidthRestored) {
        m_treeWidthRestored = true;
        if (const int remembered = rememberedTreeWidth(); remembered > 0) {
            QList<int> sizes = m_ui->splitterTree->sizes();
            if (sizes.size() == 2) {
                sizes[1] += sizes[0] - remembered;
                sizes[0] = remembered;
                m_ui->splitterTree->setSizes(sizes);
            }
        } else {
            fitTreePane();
        }
        connect(m_ui->splitterTree, &QSplitter::splitterMoved, this,
                [this] { m_treeWidthMoved = true; });
        // The list's or gallery's height, as the user left it: a gallery is often made tall.
        const int height = LoadVaultSettings(m_app.dataFolder()).itemsPaneHeight;
        if (QList<int> sizes = m_ui->splitterList->sizes(); height > 0 && sizes.size() == 2) {
            sizes[1] += sizes[0] - height;
            sizes[0] = height;
            m_ui->splitterList->setSizes(sizes);
        }
        connect(m_ui->splitterList, &QSplitter::splitterMoved, this,
                [this] { m_itemsHeightMoved = true; });
    }
    emit shown();
}

void TClipVaultMain::closeEvent(QCloseEvent* event)
{
    m_hotKey.unregisterKey();
    QString error;
    if (!m_app.saveCatalogue(&error)) {
        // Nothing may be lost: the program stays up with its catalogue in memory.
        m_prompt.inform(error, QStringLiteral("Clip Vault"));
        m_hotKey.registerKey();
        event->ignore();
        return;
    }
    rememberTreeWidth();
    event->accept();
    emit closed();
}

int TClipVaultMain::rememberedTreeWidth() const
{
    return LoadVaultSettings(m_app.dataFolder()).categoryPaneWidth;
}

void TClipVaultMain::rememberTreeWidth() const
{
    const QList<int> sizes = m_ui->splitterTree->sizes();
    if (m_treeWidthMoved && sizes.size() == 2 && sizes[0] > 0)
        SaveCategoryPaneWidth(m_app.dataFolder(), sizes[0]);
    const QList<int> heights = m_ui->splitterList->sizes();
    if (m_itemsHeightMoved && heights.size() == 2 && heights[0] > 0)
        SaveItemsPaneHeight(m_app.dataFolder(), heights[0]);
}

void TClipVaultMain::fitTreePane()
{
    // Grown to show every name whole, up to a third of the window; never narrowed, since the
    // user may have widened it.
    QTreeView* tree = m_ui->tvwclass;
    const int wanted = static_cast<QAbstractItemView*>(tree)->sizeHintForColumn(0) +
                       2 * tree->frameWidth() + tree->verticalScrollBar()->sizeHint().width();
    QList<int> sizes = m_ui->splitterTree->sizes();
    const int limit = std::max(width(), 1024) / 3;
    if (sizes.size() == 2 && sizes[0] < wanted) {
        const int grown = std::min(wanted, limit);
        sizes[1] -= grown - sizes[0];
        sizes[0] = grown;
        m_ui->splitterTree->setSizes(sizes);
    }
}
