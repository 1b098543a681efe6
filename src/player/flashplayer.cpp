#include "flashplayer.h"

#include "movieserver.h"
#include "playerfiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <utility>

/// Receives the player page's reports, which it writes to its console.
class PlayerPage final : public QWebEnginePage
{
public:
    PlayerPage(FlashPlayer& player, QObject* parent)
        : QWebEnginePage(parent)
        , m_player(player)
    {
    }

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                  const QString&) override
    {
        static const QString prefix = QStringLiteral("clipvault:");
        if (!message.startsWith(prefix))
            return;
        const QJsonObject report =
            QJsonDocument::fromJson(message.mid(prefix.size()).toUtf8()).object();
        m_player.onMessage(report.value(QStringLiteral("kind")).toString(),
                           report.value(QStringLiteral("data")).toObject());
    }

private:
    FlashPlayer& m_player;
};

FlashPlayer::FlashPlayer(MovieServer& server, QWidget* parent)
    : QWidget(parent)
    , m_server(server)
{
    setObjectName(QStringLiteral("flashplayer"));
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    setAutoFillBackground(true);
}

FlashPlayer::~FlashPlayer() = default;

void FlashPlayer::start()
{
    createView();
    if (std::exchange(m_pageRequested, true))
        return;
    QUrl page(m_server.pageUrl());
    // Without the GPU the web engine has no WebGL: Ruffle would try its two WebGL renderers,
    // at some tens of milliseconds for each new movie, before it falls back to drawing on a
    // canvas. The page is told to draw on a canvas at once.
    if (qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS")
            .split(u' ', Qt::SkipEmptyParts)
            .contains(QStringLiteral("--disable-gpu")))
        page.setFragment(QStringLiteral("renderer=canvas"));
    m_view->load(page);
}

void FlashPlayer::createView()
{
    if (m_view)
        return;
    m_view = new QWebEngineView(this);
    auto* page = new PlayerPage(*this, m_view);
    page->settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    page->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    page->setBackgroundColor(QColor(0x20, 0x20, 0x20));
    m_view->setPage(page);
    m_view->setContextMenuPolicy(Qt::NoContextMenu); // Ruffle shows its own
    layout()->addWidget(m_view);
    setFocusProxy(m_view);
}

void FlashPlayer::runScript(const QString& script)
{
    if (m_view && m_ready)
        m_view->page()->runJavaScript(script);
}

void FlashPlayer::mute()
{
    createView();
    m_view->page()->setAudioMuted(true);
}

void FlashPlayer::setMovie(const QString& movie)
{
    m_movie = movie;
    loadCurrentMovie();
}

void FlashPlayer::loadCurrentMovie()
{
    m_metadata = {};
    const QString url = m_server.addMovie(m_movie);
    m_loadedUrl = url;
    if (url.isEmpty()) {
        runScript(QStringLiteral("clipvault.clear()"));
        return;
    }
    runScript(
        QStringLiteral("clipvault.load(%1)")
            .arg(QString::fromUtf8(
                QJsonDocument(QJsonArray{url}).toJson(QJsonDocument::Compact).mid(1).chopped(1))));
}

void FlashPlayer::Stop()
{
    runScript(QStringLiteral("clipvault.stop()"));
}

void FlashPlayer::Play()
{
    runScript(QStringLiteral("clipvault.play()"));
}

void FlashPlayer::StopPlay()
{
    runScript(QStringLiteral("clipvault.stop()"));
}

void FlashPlayer::askShownError(std::function<void(const QString& error)> answer)
{
    if (!m_view || !m_ready) {
        answer(QString());
        return;
    }
    m_view->page()->runJavaScript(
        QStringLiteral("clipvault.shownError()"),
        [answer = std::move(answer)](const QVariant& result) { answer(result.toString()); });
}

void FlashPlayer::queryPlaying()
{
    if (!m_view || !m_ready) {
        emit playingReported(false);
        return;
    }
    m_view->page()->runJavaScript(
        QStringLiteral("clipvault.playing()"),
        [this](const QVariant& result) { emit playingReported(result.toBool()); });
}

QImage FlashPlayer::PaintTo()
{
    return (m_view ? m_view->grab() : grab()).toImage().scaled(size());
}

void FlashPlayer::onMessage(const QString& kind, const QJsonObject& data)
{
    if (kind == u"ready") {
        m_ready = true;
        emit ready();
        if (!m_movie.isEmpty())
            loadCurrentMovie();
    } else if (kind == u"metadata") {
        if (data.value(QStringLiteral("url")).toString() != m_loadedUrl)
            return; // a movie replaced since
        m_metadata = data;
        emit metadataChanged(data);
    } else if (kind == u"loaded") {
        if (data.value(QStringLiteral("url")).toString() != m_loadedUrl)
            return;
        // The placeholder is a still picture: drawn once, it costs nothing while it shows,
        // where a playing one would be drawn anew at its frame rate for as long as it is up.
        if (m_movie == PlayerFiles::noneMovie())
            Stop();
        emit movieLoaded(m_movie);
    } else if (kind == u"error") {
        emit loadFailed(m_movie, data.value(QStringLiteral("message")).toString());
    }
}
