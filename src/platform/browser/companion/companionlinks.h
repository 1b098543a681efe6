#pragma once

#include "browsersession.h"
#include "nativemessaging.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <QHash>
#include <QPointer>

#include <memory>
#include <set>

class QLocalSocket;
class ReplacingFile;
class QTimer;

/// A choice made on the companion's bar in a page: the movie as the page wrote it, resolved
/// against its frame's document, and what to do with it.
struct CompanionChoice
{
    QString movie;
    QString page;
    QString frame;
    QString action;   ///< "category", "saveAs" or "options"
    QString category; ///< for "category"; empty: "Downloaded"
};

/// A browser whose companion is connected, as its hello named it.
struct CompanionBrowser
{
    QString browser;
    QString version;
};

/// The browser companions connected to the program, each through its host on the program's
/// private socket. Every message is checked before anything acts on it; what fails is answered
/// with an error and logged once per connection and kind. A connection that announces more than
/// a message may hold, or breaks the protocol, is closed; a flood is read no faster than it is
/// handled, so the window never waits for a browser.
class CompanionLinks final : public QObject
{
    Q_OBJECT
public:
    explicit CompanionLinks(QObject* parent = nullptr);
    ~CompanionLinks() override;
    Q_DISABLE_COPY_MOVE(CompanionLinks)

    /// Takes over a connection whose host has said the companion's greeting; `rest` is what came
    /// after it.
    void adopt(QLocalSocket* socket, const QByteArray& rest);

    /// What every bar must know: whether it is on, whether it pauses a movie, the user's
    /// categories for its menu. Said to each companion on its hello, and again to all on a
    /// change.
    void setBarState(bool shortcutBar, bool pauseMovie, const QStringList& categories);

    /// The companions connected now.
    QList<CompanionBrowser> browsers() const;
    /// Their browsers as "name version", for the user.
    QStringList connectedNames() const;
    /// Whether a companion is connected: it then answers the questions about the visible tab.
    bool isConnected() const { return !browsers().isEmpty(); }
    /// The address of the tab last focused in any connected browser; empty when none said.
    QString visibleTab() const { return m_visibleTab; }

    /// Asks the companion of the browser focused last for every Flash movie of its visible tab;
    /// answered as BrowserSession::FindTabMovies is, empty after kTabAnswerMs without one.
    void findTabMovies(QObject* context, BrowserSession::MoviesAnswer answer);
    /// Asks it to fetch `url` with the browser's cookies, and writes the pieces it sends into a
    /// partial file put at `target` once whole, as a download replaces a file. Not saved when it
    /// could not fetch, when the first bytes are no Flash movie's, past kMaxMovieBytes, or when
    /// the pieces stop for kPieceWaitMs.
    void saveMovie(const QString& url, const QString& target, QObject* context,
                   BrowserSession::SavedAnswer answer);

    static constexpr qint64 kMaxMovieBytes = qint64(256) << 20;
    static constexpr int kPieceWaitMs = 60000;

signals:
    /// A choice on a bar, sent from the event loop.
    void choiceMade(const CompanionChoice& choice);

private:
    struct Link;
    /// A question asked of a companion, until its answer comes or its time runs out.
    struct Question
    {
        QPointer<QObject> context;
        BrowserSession::MoviesAnswer movies;
        BrowserSession::SavedAnswer saved;
        std::shared_ptr<ReplacingFile> file; ///< where a movie's pieces go
        QTimer* deadline = nullptr;
    };
    /// The companion questions go to: the one whose browser's tab was focused last.
    Link* askedLink() const;
    int ask(Question question, QJsonObject message, int waitMs);
    void answer(int id, const QList<TabMovie>& movies = {}, bool saved = false,
                const QString& error = {});
    void takePiece(int id, const QJsonObject& fields);
    void readFrom(Link& link);
    void handle(Link& link, const nativemessaging::Message& message);
    void refuse(Link& link, nativemessaging::Fault fault, const QString& why);
    void send(Link& link, const QJsonObject& message);
    QJsonObject barState(const char* type) const;
    void drop(QLocalSocket* socket);

    QList<Link*> m_links;
    bool m_shortcutBar = false;
    bool m_pauseMovie = false;
    QStringList m_categories;
    QString m_visibleTab;
    Link* m_tabLink = nullptr; ///< the companion that told the visible tab last
    QHash<int, Question> m_questions;
    int m_lastId = 0;
};
