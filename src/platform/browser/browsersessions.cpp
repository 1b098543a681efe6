#include "browsersessions.h"

#include "bidi/bidisession.h"
#include "companion/companionlinks.h"
#include "devtools/devtoolssession.h"

#include <QTimer>

BrowserSessions::BrowserSessions(QObject* parent)
    : BrowserSession(parent)
    , m_devTools(new DevToolsSession(this))
    , m_bidi(new BidiSession(this))
    , m_companions(new CompanionLinks(this))
    , m_last(m_devTools)
{
    for (BrowserSession* session :
         {static_cast<BrowserSession*>(m_devTools), static_cast<BrowserSession*>(m_bidi)})
        connect(session, &BrowserSession::located, this, &BrowserSession::located);
}

BrowserSessions::~BrowserSessions() = default;

BrowserSession& BrowserSessions::sessionFor(const BrowserEndpoint& browser) const
{
    if (browser.kind == BrowserKind::Firefox)
        return *m_bidi;
    return *m_devTools;
}

void BrowserSessions::FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen)
{
    m_last = &sessionFor(browser);
    m_last->FindMovieAtPoint(browser, screen);
}

void BrowserSessions::PauseMovieAtPoint(QPoint screen)
{
    m_last->PauseMovieAtPoint(screen);
}

void BrowserSessions::GetAddressBarText(const BrowserEndpoint& browser, QObject* context,
                                        AddressAnswer answer)
{
    if (const QString tab = m_companions->visibleTab();
        m_companions->isConnected() && !tab.isEmpty()) {
        // Answered later, as every question is.
        QTimer::singleShot(0, context,
                           [answer = std::move(answer), tab] { answer(tab.left(kAddressLimit)); });
        return;
    }
    sessionFor(browser).GetAddressBarText(browser, context, std::move(answer));
}

void BrowserSessions::FindTabMovies(const BrowserEndpoint& browser, QObject* context,
                                    MoviesAnswer answer)
{
    if (m_companions->isConnected())
        m_companions->findTabMovies(context, std::move(answer));
    else
        sessionFor(browser).FindTabMovies(browser, context, std::move(answer));
}

void BrowserSessions::FetchLoadedMovie(const BrowserEndpoint& browser, const QString& url,
                                       QObject* context, BodyAnswer answer)
{
    sessionFor(browser).FetchLoadedMovie(browser, url, context, std::move(answer));
}

void BrowserSessions::SaveLoadedMovie(const BrowserEndpoint& browser, const QString& url,
                                      const QString& target, QObject* context, SavedAnswer answer)
{
    // The companion's copy comes in pieces, written as they come; a session's comes whole.
    if (m_companions->isConnected())
        m_companions->saveMovie(url, target, context, std::move(answer));
    else
        sessionFor(browser).SaveLoadedMovie(browser, url, target, context, std::move(answer));
}

void BrowserSessions::end(std::function<void()> done)
{
    m_bidi->end(std::move(done));
}

QString BrowserSessions::route(const BrowserEndpoint& browser) const
{
    return browser.kind == BrowserKind::Firefox ? QStringLiteral("WebDriver BiDi")
                                                : m_devTools->route();
}

bool BrowserSessions::firefoxRefused() const
{
    return m_bidi->sessionRefused();
}
