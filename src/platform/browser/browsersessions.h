#pragma once

#include "browsersession.h"

#include <functional>
#include <memory>

class BidiSession;
class CompanionLinks;
class DevToolsSession;

/// The user's browsers, whichever way each is reached: while a browser companion is connected,
/// the questions about the visible tab (its address, its movies, the browser's copy of one put
/// in a file) go to it; otherwise every question goes to the session of its browser's kind (the
/// DevTools protocol for Chromium-family browsers, WebDriver BiDi for Firefox). Every answer comes
/// back here.
class BrowserSessions final : public BrowserSession
{
    Q_OBJECT
public:
    explicit BrowserSessions(QObject* parent = nullptr);
    ~BrowserSessions() override;
    Q_DISABLE_COPY_MOVE(BrowserSessions)

    void FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen) override;
    void PauseMovieAtPoint(QPoint screen) override;
    void GetAddressBarText(const BrowserEndpoint& browser, QObject* context,
                           AddressAnswer answer) override;
    void FindTabMovies(const BrowserEndpoint& browser, QObject* context,
                       MoviesAnswer answer) override;
    void FetchLoadedMovie(const BrowserEndpoint& browser, const QString& url, QObject* context,
                          BodyAnswer answer) override;
    void SaveLoadedMovie(const BrowserEndpoint& browser, const QString& url, const QString& target,
                         QObject* context, SavedAnswer answer) override;

    /// Ends the sessions a browser allows only one of (Firefox's); `done` runs once they have.
    void end(std::function<void()> done);

    /// How the connection to a browser was found ("/json/version", "DevToolsActivePort",
    /// "WebDriver BiDi").
    QString route(const BrowserEndpoint& browser) const;

    /// Whether Firefox refused a session the last time it was asked: another program holds
    /// the one it allows.
    bool firefoxRefused() const;

    /// The browser companions connected to the program.
    CompanionLinks& companions() const { return *m_companions; }

private:
    BrowserSession& sessionFor(const BrowserEndpoint& browser) const;

    DevToolsSession* m_devTools;
    BidiSession* m_bidi;
    CompanionLinks* m_companions;
    BrowserSession* m_last; ///< the session asked last, whose page a movie was found in
};
