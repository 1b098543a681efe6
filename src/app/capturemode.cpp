#include "capturemode.h"

#include "flashplayer.h"
#include "movieserver.h"
#include "playerfiles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

namespace {

/// A movie that asks for nothing new this long is done loading what it loads on its own.
constexpr int kQuietMs = 2000;

} // namespace

int RunCapture(const CaptureRequest& request)
{
    MovieServer server(PlayerFiles::ruffleFolder());
    server.setOriginLookup([&](const QString&) { return MovieOrigin{request.address, true}; });
    FlashPlayer player(server);
    player.resize(550, 400);
    player.setAttribute(Qt::WA_DontShowOnScreen);
    player.show();

    int exitCode = 0;
    QTimer quiet;
    quiet.setSingleShot(true);
    quiet.setInterval(kQuietMs);
    QObject::connect(&quiet, &QTimer::timeout, qApp, &QCoreApplication::quit);
    QObject::connect(&server, &MovieServer::loadAsked, &quiet, qOverload<>(&QTimer::start));
    QObject::connect(&server, &MovieServer::filesKept, &quiet, qOverload<>(&QTimer::start));
    QObject::connect(&player, &FlashPlayer::movieLoaded, &quiet, qOverload<>(&QTimer::start));
    QObject::connect(
        &player, &FlashPlayer::loadFailed, qApp, [&](const QString&, const QString& reason) {
            std::fprintf(stderr, "clipvault: the movie did not play: %s\n", qPrintable(reason));
            exitCode = 1;
            QCoreApplication::quit();
        });
    QTimer::singleShot(request.seconds * 1000, qApp, &QCoreApplication::quit);
    player.start();
    player.setMovie(request.file);
    QApplication::exec();
    return exitCode;
}
