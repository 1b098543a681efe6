#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class FileDialogs;
class MovieServer;
class TFlashPreview;

/// A stand-alone player window made ahead of need, never shown until it is taken. Starting a
/// player is the web engine's page and Ruffle's engine being compiled, seconds on a small
/// machine; a movie handed to the running program shows at once in the window kept. One window
/// is kept; the next is made only once the one taken has shown its movie, so that it never
/// competes with the movie the user waits for (as a browser keeps a spare renderer).
class PlayerReserve final : public QObject
{
    Q_OBJECT
public:
    PlayerReserve(MovieServer& server, FileDialogs& dialogs, QObject* parent = nullptr);
    ~PlayerReserve() override;
    Q_DISABLE_COPY_MOVE(PlayerReserve)

    /// Makes the window kept in reserve, unless one is kept already.
    void prepare();
    /// The window kept, or a new one when none is; the caller's, not shown yet.
    TFlashPreview* take();
    /// Plays a movie from the desktop in the player window open for one, raised, or opens that
    /// window (the one kept, when there is one): one window at a time, however quickly movies
    /// come.
    TFlashPreview* play(const QString& path);
    /// Whether a window is kept, its player started or starting.
    bool holdsWindow() const { return m_spare != nullptr; }

signals:
    /// A window taken has shown its movie or failed to: the machine is the user's no longer.
    void takenPlayerSettled();
    /// The window play() opened was closed.
    void playerClosed();

private:
    MovieServer& m_server;
    FileDialogs& m_dialogs;
    std::unique_ptr<TFlashPreview> m_spare;
    QPointer<TFlashPreview> m_open; ///< the window play() opened, while it is open
};
