#include "vaultbar.h"

#include "ui_vaultbar.h"

#include "barchoice.h"
#include "optionform.h"
#include "browserurls.h"
#include "catalogue.h"
#include "vault.h"
#include "filedialogs.h"
#include "icons.h"
#include "browsersession.h"
#include "options.h"
#include "records.h"
#include "userprompt.h"
#include "windowdrag.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QToolButton>

namespace {

/// The menu shows an entry's caption as written: "&" is no accelerator here.
QString menuText(const QString& caption)
{
    QString text = caption;
    return text.replace(u'&', QStringLiteral("&&"));
}

} // namespace

Tvaultbar::Tvaultbar(Vault& app, BrowserAccess& browser, BrowserSession& session,
                     FileDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus)
    , m_ui(std::make_unique<Ui::Tvaultbar>())
    , m_app(app)
    , m_browser(browser)
    , m_session(session)
    , m_dialogs(dialogs)
    , m_menu(new QMenu(this))
    , m_watch(new QTimer(this))
{
    m_ui->setupUi(this);
    // The browser keeps the focus: the bar is shown over it, never in front of its keyboard.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(74, 26);
    m_ui->Image1->setPixmap(Icons::shortcutBar());
    m_ui->btnSaveCat->setIcon(Icons::saveToCategory());
    m_ui->btnOption->setIcon(Icons::barOptions());
    // The glyphs are white on the bar's dark picture: a hovered or pressed button tints the
    // picture instead of painting the style's light panel over it, which hid the glyph.
    for (QToolButton* button : {m_ui->btnSaveCat, m_ui->btnOption})
        button->setStyleSheet(QStringLiteral(
            "QToolButton { border: none; border-radius: 2px; background: transparent; }"
            "QToolButton:hover { background: rgba(255, 255, 255, 60); }"
            "QToolButton:pressed { background: rgba(0, 0, 0, 90); }"));
    // The bar never takes the focus, and Qt shows hints only over the active window otherwise.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    m_menu->setObjectName(QStringLiteral("PopupMenu1"));
    new WindowDrag(this, {m_ui->Image1});

    connect(m_ui->btnSaveCat, &QToolButton::clicked, this, &Tvaultbar::btnSaveCatClick);
    connect(m_ui->btnOption, &QToolButton::clicked, this, &Tvaultbar::btnOptionClick);
    connect(m_menu, &QMenu::triggered, this, &Tvaultbar::CatMenuClick);
    connect(&m_session, &BrowserSession::located, this, &Tvaultbar::movieLocated);
    connect(&m_app, &Vault::optionsChanged, this, [this] {
        if (!m_app.options().ShortcutBarEnabled)
            hide();
    });
    m_watch->setInterval(kWatchMs);
    connect(m_watch, &QTimer::timeout, this, &Tvaultbar::watchTick);
}

void Tvaultbar::showEvent(QShowEvent* event)
{
    m_watch->start();
    QWidget::showEvent(event);
}

void Tvaultbar::hideEvent(QHideEvent* event)
{
    m_watch->stop();
    QWidget::hideEvent(event);
}

bool Tvaultbar::inUse() const
{
    return m_menu->isVisible() || QApplication::activeModalWidget() != nullptr;
}

void Tvaultbar::watchTick()
{
    if (!m_app.options().ShortcutBarEnabled) {
        hide();
        return;
    }
    if (inUse())
        return;
    if (!m_browser.ClassifyPointerWindow(QCursor::pos()).browserInFront) {
        m_asked.reset();
        hide();
        return;
    }
    // The page may have gone on without a pointer move: the browser is asked again about the
    // place the bar came up for, and its answer decides in movieLocated. Not while a question
    // about the pointer waits: the session keeps only the latest, and that one must be answered.
    if (!m_asked)
        m_session.FindMovieAtPoint(m_shownBrowser, m_shownFor);
}

Tvaultbar::~Tvaultbar() = default;

bool Tvaultbar::isOverBar(QPoint screen) const
{
    return (isVisible() && frameGeometry().contains(screen)) ||
           (m_menu->isVisible() && m_menu->geometry().contains(screen));
}

void Tvaultbar::HandlePointerNotify(QPoint screen)
{
    const PointerScene scene = m_browser.ClassifyPointerWindow(screen);
    // With another window in front, whatever the pointer does changes nothing.
    if (!scene.browserInFront)
        return;
    // Over the bar, its buttons, its menu or another window of ours: it stays as it is.
    if (isOverBar(screen) || scene.over == PointerScene::Over::OwnWindow)
        return;
    if (scene.over != PointerScene::Over::BrowserPage || !scene.browser.isKnown()) {
        // Answers still on their way are about places the pointer has left.
        m_asked.reset();
        hide();
        return;
    }
    // Whether a movie is there is the browser's to say; the answer comes to movieLocated.
    m_asked = screen;
    m_lastBrowser = scene.browser;
    m_session.FindMovieAtPoint(scene.browser, screen);
}

void Tvaultbar::movieLocated(QPoint screen, const std::optional<MovieAtPoint>& movie)
{
    // The answer to the watch's question: the bar goes unless its movie is still there.
    if (isVisible() && screen == m_shownFor && (!m_asked || *m_asked != screen)) {
        if ((!movie || movie->address.section(u'?', 0, 0) != m_movieUrl) && !inUse())
            hide();
        return;
    }
    if (!m_asked)
        return;
    if (*m_asked == screen)
        m_asked.reset(); // the latest question is answered
    if (!movie) {
        // The pointer may have gone onto the bar while the browser answered.
        if (!isOverBar(QCursor::pos()))
            hide();
        return;
    }
    if (isVisible())
        return; // it stays where it is, also over another movie
    if (m_app.options().PauseMovieOnBar)
        m_session.PauseMovieAtPoint(screen); // and it is not started again
    m_movieUrl = movie->address.section(u'?', 0, 0);
    // A movie in a frame names its address against the frame's document, not the page's.
    m_moviePage = movie->pageUrl;
    m_movieFrame = movie->frameUrl != movie->pageUrl ? movie->frameUrl : QString();
    m_shownFor = screen;
    m_shownBrowser = m_lastBrowser;
    move(movie->screenRect.topLeft() + kOffset);
    show();
    raise();
}

void Tvaultbar::fillCategoryMenu()
{
    m_menu->clear();
    auto addEntry = [this](const QString& caption) {
        QAction* entry = m_menu->addAction(menuText(caption));
        entry->setData(caption);
    };
    addEntry(QLatin1String(builtin::Downloaded));
    m_menu->addSeparator();
    for (const QString& category : BarMenuCategories(m_app.catalogue()))
        addEntry(category);
    m_menu->addSeparator();
    addEntry(kBarSaveTo);
}

void Tvaultbar::btnSaveCatClick()
{
    fillCategoryMenu();
    const QWidget* button = m_ui->btnSaveCat;
    m_menu->popup(mapToGlobal(QPoint(button->x(), button->y() + button->height())));
}

QString Tvaultbar::movieAddress() const
{
    return BarMovieAddress(m_movieUrl, m_movieFrame, m_moviePage);
}

void Tvaultbar::CatMenuClick(QAction* item)
{
    if (!item || item->isSeparator())
        return;
    // A movie filed already brings a question: the bar goes while it is open, so that nothing
    // of Clip Vault's but the question stands over the browser.
    FileMovieFromBar(m_app, m_dialogs, this, movieAddress(), item->data().toString(),
                     [this] { hide(); });
}

void Tvaultbar::btnOptionClick()
{
    EditVaultOptions(m_app, this);
}
