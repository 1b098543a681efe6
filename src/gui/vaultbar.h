#pragma once

#include "browseraccess.h"
#include "browsersession.h"

#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

class Vault;
class FileDialogs;
class BrowserSession;
class QAction;
class QMenu;

namespace Ui {
class Tvaultbar;
}

/// The shortcut bar: a small floating window that comes up 15 pixels inside the top-left corner
/// of the Flash movie under the pointer in the browser. Its first button files the movie under a
/// category (or saves it to a chosen file) and downloads it; its second opens the options. The
/// bar goes when the pointer, with the browser in front, is over anything but a movie or the
/// bar itself. It never takes the focus from the browser. While it shows it keeps watch, so that it
/// never floats over something it does not belong to: it goes within a moment when the browser
/// is no longer in front, when the page no longer has the movie under it (it navigated), and
/// when the shortcut bar is switched off.
class Tvaultbar final : public QWidget
{
    Q_OBJECT
public:
    static constexpr QPoint kOffset{15, 15};

    Tvaultbar(Vault& app, BrowserAccess& browser, BrowserSession& session, FileDialogs& dialogs,
              QWidget* parent = nullptr);
    ~Tvaultbar() override;
    Q_DISABLE_COPY_MOVE(Tvaultbar)

    /// The reaction to one pointer notification: the window system is asked where the pointer
    /// is, the browser (by signal, later) whether a movie is there.
    void HandlePointerNotify(QPoint screen);

    /// The movie address the bar was last shown for, as the page gave it, cut before its "?".
    QString MovieUrl() const { return m_movieUrl; }
    QMenu* categoryMenu() const { return m_menu; }

    /// Fills the category menu and opens it below the save button.
    void btnSaveCatClick();
    /// Files the movie under the item's category, or saves it where the user says for
    /// "Save to ...", and starts its download.
    void CatMenuClick(QAction* item);
    /// The options dialog; confirmed options are taken (whoever follows them applies them) and
    /// saved.
    void btnOptionClick();

    /// How often the shown bar checks that it still belongs where it is.
    static constexpr int kWatchMs = 250;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void movieLocated(QPoint screen, const std::optional<MovieAtPoint>& movie);
    /// One check of the shown bar: the option, the browser in front, the movie still there.
    void watchTick();
    /// Whether the user is busy with the bar (its menu or a dialog of its own is open).
    bool inUse() const;
    /// Whether the point is over the bar or its open menu.
    bool isOverBar(QPoint screen) const;
    /// The movie's address against the page the browser shows now, or against the document of
    /// the frame it is in.
    QString movieAddress() const;
    void fillCategoryMenu();

    std::unique_ptr<Ui::Tvaultbar> m_ui;
    Vault& m_app;
    BrowserAccess& m_browser;
    BrowserSession& m_session;
    FileDialogs& m_dialogs;
    QMenu* m_menu;
    QString m_movieUrl;
    QString m_movieFrame; ///< the frame's document the movie is in; empty: the page itself
    QString m_moviePage;  ///< the page the movie was found in, which it is filed under
    /// The latest point the browser was asked about, until its answer comes; none once the
    /// pointer left the page (answers still coming are then about places it has left).
    std::optional<QPoint> m_asked;
    /// The point and browser the bar was brought up for, asked again while it shows.
    QPoint m_shownFor;
    BrowserEndpoint m_shownBrowser;
    BrowserEndpoint m_lastBrowser; ///< the browser last asked
    QTimer* m_watch;
};
