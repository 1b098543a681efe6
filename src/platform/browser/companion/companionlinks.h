#pragma once

#include "nativemessaging.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <set>

class QLocalSocket;

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
    /// The address of the tab last focused in any connected browser; empty when none said.
    QString visibleTab() const { return m_visibleTab; }

signals:
    /// A choice on a bar, sent from the event loop.
    void choiceMade(const CompanionChoice& choice);

private:
    struct Link;
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
};
