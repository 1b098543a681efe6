#pragma once

#include "bidinetwork.h"
#include "browsersession.h"
#include "pointquestion.h"

#include <QJsonObject>

#include <functional>

class BidiConnection;

/// Firefox's questions through WebDriver BiDi, over one session on the browser's socket
/// (BidiConnection): its browsing contexts (a tab, and each frame in it, of whatever site;
/// BidiContexts) asked by script, and what they fetch watched while the session runs
/// (BidiNetworkWatch). The movie under a point is MoviePointQuestion's, in the visible tab.
///
/// Firefox allows one session at a time: while another holder has it, every question is
/// answered empty and sessionRefused() tells why.
class BidiSession final : public BrowserSession, private PointDocuments
{
    Q_OBJECT
public:
    explicit BidiSession(QObject* parent = nullptr);
    ~BidiSession() override;
    Q_DISABLE_COPY_MOVE(BidiSession)

    void FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen) override;
    void PauseMovieAtPoint(QPoint screen) override;
    void GetAddressBarText(const BrowserEndpoint& browser, QObject* context,
                           AddressAnswer answer) override;
    void FindTabMovies(const BrowserEndpoint& browser, QObject* context,
                       MoviesAnswer answer) override;
    /// Firefox's own copy is not asked for: always empty.
    void FetchLoadedMovie(const BrowserEndpoint& browser, const QString& url, QObject* context,
                          BodyAnswer answer) override;

    /// Ends the session, so that another program may have Firefox's one; `done` runs once it
    /// has ended (at once when none is open).
    void end(std::function<void()> done);

    /// Whether the browser refused the session the last time it was asked (another program,
    /// or another Clip Vault, holds the one it allows).
    bool sessionRefused() const;

private:
    // The movie under a point: the visible tab as the question asks it.
    Readiness prepare() override;
    void pageAt(QPoint screen, Page then) override;
    void evaluate(const QString& document, const QString& expression, Value reply) override;
    void movePointer(const QString& page, QPointF css, std::function<void()> done) override;
    QString frameDocument(const QString& parent, const QString& src) const override;

    BidiConnection* m_connection;
    BidiNetworkWatch m_network;
    MoviePointQuestion* m_point;
    QJsonObject m_pointTab; ///< the tab, with its frames, the last point was looked for in
};
