#pragma once

#include <QImage>
#include <QJsonObject>
#include <QWidget>

#include <functional>

class MovieServer;
class QWebEngineView;
class PlayerPage;

/// The Flash player control: Ruffle in a web view, fed by the program's MovieServer. It offers the
/// operations of the old player control: write and read Movie, Stop, Play, StopPlay, PaintTo and
/// focus. A name that is no movie ("no flash", "/") shows nothing and raises nothing.
///
/// The web engine is started only when start() is called (after the main window is up), so that
/// the program starts fast; a movie set before then is loaded once the player page is ready.
class FlashPlayer final : public QWidget
{
    Q_OBJECT
public:
    FlashPlayer(MovieServer& server, QWidget* parent = nullptr);
    ~FlashPlayer() override;
    Q_DISABLE_COPY_MOVE(FlashPlayer)

    /// Starts the web engine and loads the player page. Harmless when started already.
    void start();
    /// Makes the web view without loading the page yet (which starts Ruffle, the costly part).
    void createView();

    /// Silences the player's sound for good (a player no one listens to).
    void mute();
    void setMovie(const QString& movie);
    QString movie() const { return m_movie; }
    void Stop();
    void Play();
    void StopPlay();
    /// The current frame as it is on screen, at the control's size.
    QImage PaintTo();

    /// The last movie's facts (width, height, frameRate, frames, version), empty until known.
    QJsonObject metadata() const { return m_metadata; }

    /// Asks the player whether the movie runs; the answer arrives in `playingReported`.
    void queryPlaying();
    /// Asks which error Ruffle shows in place of the movie; `answer` hears it ("" for none).
    void askShownError(std::function<void(const QString& error)> answer);

signals:
    void ready();
    void movieLoaded(const QString& movie);
    void metadataChanged(const QJsonObject& facts);
    void loadFailed(const QString& movie, const QString& reason);
    void playingReported(bool playing);

private:
    friend class PlayerPage;
    void onMessage(const QString& kind, const QJsonObject& data);
    void runScript(const QString& script);
    void loadCurrentMovie();

    MovieServer& m_server;
    QWebEngineView* m_view = nullptr;
    QString m_movie;
    QString m_loadedUrl;
    QJsonObject m_metadata;
    bool m_pageRequested = false; ///< the player page was asked for (start)
    bool m_ready = false;
};
