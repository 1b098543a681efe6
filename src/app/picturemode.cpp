#include "picturemode.h"

#include "filetransfer.h"
#include "flashplayer.h"
#include "movieserver.h"
#include "picturecache.h"
#include "playerfiles.h"
#include "processtree.h"
#include "urlresolve.h"

#include <QApplication>
#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

/// A movie that has not shown this long after it was asked for gets a placeholder.
constexpr int kShowWithinMs = 10000;
/// How long a movie plays before its picture is taken, and a one-frame movie.
constexpr int kPlayedMs = 1000;
constexpr int kFirstFrameMs = 150;
/// While a movie loads, this often the page is asked whether Ruffle shows an error instead.
constexpr int kErrorCheckMs = 300;
/// The stage a picture is drawn on: the movie's shape, this large on its long side.
constexpr int kStageSize = 2 * kPictureSize;
/// The nice value of pictures, background work all of it.
constexpr int kLowest = 19;
/// How often the web engine's processes are put back at it.
constexpr int kLowerEveryMs = 500;

struct Request
{
    QString file;
    QString out;
    QString address; ///< the web address the movie was filed under; empty: none
};

/// Puts every process started below this one at the lowest priority. They inherit it, but a web
/// engine allowed to (run by root, or with the right to) raises its renderers again.
void lowerProcessesBelow()
{
    for (const pid_t pid : ProcessesBelow(::getpid())) {
        if (::getpriority(PRIO_PROCESS, static_cast<id_t>(pid)) < kLowest)
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), kLowest);
    }
}

/// Draws the movies asked for on stdin, one at a time.
class PictureTaker final : public QObject
{
public:
    PictureTaker()
        : m_server(PlayerFiles::ruffleFolder())
        , m_input(STDIN_FILENO, QSocketNotifier::Read)
    {
        m_hang.setSingleShot(true);
        m_played.setSingleShot(true);
        connect(&m_errorCheck, &QTimer::timeout, this, [this] {
            m_player->askShownError([this](const QString& error) {
                if (!error.isEmpty())
                    finish(false, QStringLiteral("Ruffle showed an error: ") + error.simplified());
            });
        });
        connect(&m_hang, &QTimer::timeout, this, [this] {
            // A hung movie holds its page: the next movie gets a new one.
            finish(false, QStringLiteral("it did not show within %1 s").arg(kShowWithinMs / 1000));
            makePlayer();
        });
        connect(&m_played, &QTimer::timeout, this, &PictureTaker::takePicture);
        connect(&m_lower, &QTimer::timeout, this, &lowerProcessesBelow);
        m_lower.start(kLowerEveryMs);
        connect(&m_input, &QSocketNotifier::activated, this, &PictureTaker::readRequests);
        // A movie of the web reads its kept files only, as in the player; nothing is fetched
        // for a picture.
        m_server.setOriginLookup([this](const QString& file) {
            const bool drawn = m_current && QFileInfo(m_current->file).absoluteFilePath() == file;
            return MovieOrigin{drawn && !IsLocalAddress(m_current->address) ? m_current->address
                                                                            : QString(),
                               false};
        });
        makePlayer();
    }

private:
    void makePlayer()
    {
        m_player = std::make_unique<FlashPlayer>(m_server);
        m_player->resize(kStageSize, kStageSize);
        m_player->setAttribute(Qt::WA_DontShowOnScreen);
        m_player->mute();
        m_player->show();
        connect(m_player.get(), &FlashPlayer::metadataChanged, this, &PictureTaker::shapeStage);
        connect(m_player.get(), &FlashPlayer::movieLoaded, this, [this] {
            if (!m_current)
                return;
            m_errorCheck.stop();
            m_played.start(m_frames <= 1 ? kFirstFrameMs : kPlayedMs);
        });
        connect(m_player.get(), &FlashPlayer::loadFailed, this,
                [this](const QString&, const QString& reason) { finish(false, reason); });
        m_ready = false;
        connect(m_player.get(), &FlashPlayer::ready, this, [this] {
            m_ready = true;
            next();
        });
        m_player->start();
    }

    void readRequests()
    {
        char piece[4096];
        const ssize_t got = ::read(STDIN_FILENO, piece, sizeof piece);
        if (got <= 0) {
            m_input.setEnabled(false);
            m_inputEnded = true;
            next();
            return;
        }
        m_pending.append(piece, got);
        for (qsizetype end; (end = m_pending.indexOf('\n')) >= 0;) {
            const QJsonObject line = QJsonDocument::fromJson(m_pending.left(end)).object();
            m_pending.remove(0, end + 1);
            m_queue.push_back({line.value(QStringLiteral("file")).toString(),
                               line.value(QStringLiteral("out")).toString(),
                               line.value(QStringLiteral("address")).toString()});
        }
        next();
    }

    void next()
    {
        if (m_current)
            return;
        if (m_queue.empty()) {
            if (m_inputEnded)
                QCoreApplication::quit();
            return;
        }
        if (!m_ready)
            return;
        m_current = m_queue.front();
        m_queue.pop_front();
        m_frames = 0;
        m_player->resize(kStageSize, kStageSize);
        m_hang.start(kShowWithinMs);
        m_errorCheck.start(kErrorCheckMs);
        m_player->setMovie(m_current->file);
    }

    /// The stage takes the movie's shape, so that the picture is the movie, not its borders.
    void shapeStage(const QJsonObject& facts)
    {
        m_frames = facts.value(QStringLiteral("frames")).toInt();
        const double width = facts.value(QStringLiteral("width")).toDouble();
        const double height = facts.value(QStringLiteral("height")).toDouble();
        if (width <= 0 || height <= 0)
            return;
        const double scale = kStageSize / std::max(width, height);
        m_player->resize(std::max(1, qRound(width * scale)), std::max(1, qRound(height * scale)));
    }

    void takePicture()
    {
        if (!m_current)
            return;
        m_player->askShownError([this](const QString& error) {
            if (!error.isEmpty()) {
                finish(false, QStringLiteral("Ruffle showed an error: ") + error.simplified());
                return;
            }
            const QImage frame = m_player->PaintTo().scaled(
                kPictureSize, kPictureSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            if (frame.isNull() || !frame.save(&buffer, "PNG")) {
                finish(false, QStringLiteral("the player gave no picture"));
                return;
            }
            QString writeError;
            if (!ReplaceFileWith(m_current->out, png, &writeError)) {
                finish(false, writeError);
                return;
            }
            finish(true, {});
        });
    }

    void finish(bool ok, const QString& reason)
    {
        if (!m_current)
            return;
        m_hang.stop();
        m_played.stop();
        m_errorCheck.stop();
        QJsonObject answer{{QStringLiteral("file"), m_current->file}, {QStringLiteral("ok"), ok}};
        if (!ok)
            answer.insert(QStringLiteral("reason"), reason);
        const QByteArray line = QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n';
        std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
        std::fflush(stdout);
        m_current.reset();
        // The movie drawn stops playing: nothing runs between pictures.
        m_player->Stop();
        QTimer::singleShot(0, this, &PictureTaker::next);
    }

    MovieServer m_server;
    QSocketNotifier m_input;
    std::unique_ptr<FlashPlayer> m_player;
    std::deque<Request> m_queue;
    std::optional<Request> m_current;
    QByteArray m_pending;
    QTimer m_hang;
    QTimer m_played;
    QTimer m_errorCheck;
    QTimer m_lower;
    int m_frames = 0;
    bool m_ready = false;
    bool m_inputEnded = false;
};

} // namespace

int RunPictureMaker()
{
    // Pictures are background work: the user's own work comes first. The program starts the
    // helper so already, which every thread and process of its web engine inherits; this is for
    // a helper started by hand.
    ::setpriority(PRIO_PROCESS, 0, kLowest);
    PictureTaker taker;
    return QApplication::exec();
}
