// The pictures of 200 different movies: the program's helper (one page, reused movie after
// movie) against one headless Chromium opening a new page per movie, the same Ruffle drawing
// each movie to the same moment (a second after it shows; a one-frame movie's first frame),
// with the same GPU flags (none). The median time per picture of each, and whether every movie
// got its picture of the right colour or a placeholder with its reason.

#include "benchfixtures.h"

#include "picturemaker.h"
#include "swfwriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kMovies = 200;

struct BenchMovie
{
    QString name;
    QRgb colour = 0;
    bool placeholder = false; ///< it loops for ever: no picture, a reason
};

/// Movies of both ActionScript versions, each of a colour of its own, ten frames long but for a
/// few of one frame; one throws, one loops for ever.
QList<BenchMovie> writeMovies(const QString& folder)
{
    QList<BenchMovie> movies;
    for (int i = 0; i < kMovies; ++i) {
        SwfMovie movie;
        const auto red = static_cast<std::uint8_t>(i);
        const auto green = static_cast<std::uint8_t>(255 - i);
        const auto blue = static_cast<std::uint8_t>((i * 37) % 256);
        movie.background = {red, green, blue};
        movie.frameCount = i % 10 == 0 ? 1 : 10;
        BenchMovie written{QStringLiteral("m%1.swf").arg(i), qRgb(red, green, blue)};
        if (i % 2 == 1)
            movie.tags = swftags::fileAttributes(0x08);
        if (i == 7)
            movie.tags = swftags::doAction(swftags::pushString("boom") + QByteArray("\x2a\x00", 2));
        if (i == 13) {
            movie.tags = swftags::doAction(QByteArray("\x99\x02\x00\xfb\xff\x00", 6));
            written.placeholder = true;
        }
        QFile out(QDir(folder).filePath(written.name));
        out.open(QIODevice::WriteOnly);
        out.write(WriteSwf(movie));
        movies.append(written);
    }
    return movies;
}

/// The peer's page: Ruffle configured as the program's player draws pictures.
const char kPeerPage[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8">
<style>html, body, #stage, #stage > * { margin: 0; width: 100%; height: 100%; overflow: hidden; }</style>
<script>
window.RufflePlayer = {config: {autoplay: "on", unmuteOverlay: "hidden", splashScreen: false,
  letterbox: "on", polyfills: false, publicPath: "ruffle/", logLevel: "error",
  preferredRenderer: "canvas", allowNetworking: "none"}};
</script>
<script src="ruffle/ruffle.js"></script></head>
<body><div id="stage"></div><script>
const player = window.RufflePlayer.newest().createPlayer();
document.getElementById("stage").appendChild(player);
player.addEventListener("loadeddata", () => {
  const frames = player.ruffle().metadata.numFrames;
  setTimeout(() => { window.pictureReady = true; }, frames <= 1 ? 150 : 1000);
});
player.ruffle().load({url: "movies/" + new URLSearchParams(location.search).get("movie")});
</script></body></html>
)";

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QRgb centreOf(const QString& png)
{
    const QImage picture(png);
    return picture.isNull() ? 0 : picture.pixel(picture.width() / 2, picture.height() / 2);
}

} // namespace

void RunPicturesComparison()
{
    std::printf("\nPictures of %d movies (median time per picture):\n", kMovies);
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    QTemporaryDir site;
    const QString movieFolder = QDir(site.path()).filePath(QStringLiteral("movies"));
    QDir().mkpath(movieFolder);
    const QList<BenchMovie> movies = writeMovies(movieFolder);

    // The program's helper, started by a first picture that is not counted, as the peer's
    // browser is.
    QTemporaryDir ours;
    PictureMaker maker{QStringLiteral(CLIPVAULT_PROGRAM)};
    QEventLoop loop;
    bool ok = false;
    QString reason;
    QObject::connect(&maker, &PictureMaker::made, &loop,
                     [&](const QString&, bool drawn, const QString& why) {
                         ok = drawn;
                         reason = why;
                         loop.quit();
                     });
    const auto draw = [&](const QString& movie, const QString& out) {
        maker.make(QDir(movieFolder).filePath(movie), out);
        loop.exec();
    };
    draw(movies.first().name, QDir(ours.path()).filePath(QStringLiteral("warm.png")));
    std::vector<double> ourMs;
    int right = 0;
    int placeholders = 0;
    for (int i = 0; i < movies.size(); ++i) {
        const QString out = QDir(ours.path()).filePath(QStringLiteral("%1.png").arg(i));
        QElapsedTimer timer;
        timer.start();
        draw(movies[i].name, out);
        ourMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (ok && centreOf(out) == movies[i].colour)
            ++right;
        else if (!ok && movies[i].placeholder && !reason.isEmpty())
            ++placeholders;
        else
            std::printf("  %s: %s\n", qPrintable(movies[i].name),
                        ok ? "a picture of the wrong colour" : qPrintable(reason));
    }
    maker.stop();
    std::printf("  clipvault helper     %7.1f ms  (%d right pictures, %d placeholders with their "
                "reason, of %d)\n",
                median(ourMs), right, placeholders, kMovies);

    if (chromium.isEmpty()) {
        std::printf("  no chromium to compare with: skipped\n");
        return;
    }
    QFile page(QDir(site.path()).filePath(QStringLiteral("page.html")));
    page.open(QIODevice::WriteOnly);
    page.write(kPeerPage);
    page.close();
    QFile::link(QStringLiteral(CLIPVAULT_BUILD_SHARE_DIR "/ruffle"),
                QDir(site.path()).filePath(QStringLiteral("ruffle")));
    QFile listing(QDir(site.path()).filePath(QStringLiteral("movies.txt")));
    listing.open(QIODevice::WriteOnly);
    for (const BenchMovie& movie : movies)
        listing.write(movie.name.toUtf8() + '\n');
    listing.close();
    QTemporaryDir theirs;
    QProcess peer;
    peer.start(QStringLiteral("python3"),
               {QStringLiteral(CLIPVAULT_SOURCE_DIR "/bench/chromium_pictures.py"), chromium,
                site.path(), listing.fileName(), theirs.path()});
    peer.waitForFinished(60 * 60 * 1000);
    std::vector<double> peerMs;
    for (const QByteArray& line : peer.readAllStandardOutput().split('\n')) {
        if (!line.trimmed().isEmpty())
            peerMs.push_back(line.toDouble());
    }
    int peerRight = 0;
    for (int i = 0; i < movies.size(); ++i) {
        if (centreOf(QDir(theirs.path()).filePath(QStringLiteral("%1.png").arg(i))) ==
            movies[i].colour)
            ++peerRight;
    }
    std::printf("  chromium, page each  %7.1f ms  (%d right pictures of %d)\n", median(peerMs),
                peerRight, int(peerMs.size()));
    if (median(peerMs) > 0)
        std::printf("  per picture: %.2f x chromium (target <= 1.5)\n",
                    median(ourMs) / median(peerMs));
}
