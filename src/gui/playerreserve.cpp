#include "playerreserve.h"

#include "flashplayer.h"
#include "flashpreview.h"
#include "playerfiles.h"

#include <QTimer>

#include <memory>
#include <utility>

namespace {

/// How long after a taken window has shown its movie the next one is made.
constexpr int kRestMs = 1500;

} // namespace

PlayerReserve::PlayerReserve(MovieServer& server, FileDialogs& dialogs, QObject* parent)
    : QObject(parent)
    , m_server(server)
    , m_dialogs(dialogs)
{
}

PlayerReserve::~PlayerReserve() = default;

void PlayerReserve::prepare()
{
    if (m_spare)
        return;
    m_spare = std::make_unique<TFlashPreview>(m_server, m_dialogs);
    // The empty movie makes Ruffle load and compile its engine now, not when a movie comes.
    m_spare->player().setMovie(PlayerFiles::noneMovie());
}

TFlashPreview* PlayerReserve::take()
{
    TFlashPreview* window = m_spare ? m_spare.release() : new TFlashPreview(m_server, m_dialogs);
    // The next reserve waits until this window's movie shows (or fails), then a little longer.
    auto settled = std::make_shared<bool>(false);
    const auto onSettled = [this, settled] {
        if (std::exchange(*settled, true))
            return;
        emit takenPlayerSettled();
        QTimer::singleShot(kRestMs, this, &PlayerReserve::prepare);
    };
    connect(&window->player(), &FlashPlayer::movieLoaded, this, onSettled);
    connect(&window->player(), &FlashPlayer::loadFailed, this, onSettled);
    return window;
}

TFlashPreview* PlayerReserve::play(const QString& path)
{
    if (m_open) {
        m_open->PlayMovie(path);
        m_open->raise();
        m_open->activateWindow();
        return m_open;
    }
    m_open = OpenFlashPreview(path, m_server, m_dialogs, this);
    connect(m_open, &QObject::destroyed, this, &PlayerReserve::playerClosed);
    return m_open;
}
