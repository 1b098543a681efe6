// A movie kept whole: the files it loads captured from its site, then played with the site gone.

#include "../gui/mainwindowfixture.h"

#include "flashplayer.h"
#include "previewpane.h"
#include "keptfiles.h"
#include "movieserver.h"
#include "playerfiles.h"

#include "swfwriter.h"
#include "testfiles.h"
#include "testserver.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <map>

namespace {

using namespace swftags;

constexpr std::uint8_t kGreen[] = {0x20, 0xC0, 0x40};
constexpr std::uint8_t kBlue[] = {0x20, 0x40, 0xD0};

QByteArray movie(const QByteArray& tags)
{
    SwfMovie swf;
    swf.background = {0x80, 0x80, 0x80};
    swf.frameCount = 1;
    swf.tags = tags;
    return WriteSwf(swf);
}

QByteArray colouredMovie(const std::uint8_t (&colour)[3])
{
    return movie(filledRectangle(550, 400, colour[0], colour[1], colour[2]));
}

/// A site of loaders: parent.swf loads child.swf by a relative address, parent2.swf loads
/// far.swf by an absolute one, and dynamic.swf builds its child's address while it runs, so
/// that only playing it finds it.
struct LoaderSite
{
    LoaderSite()
    {
        for (const char* path : {"/games/parent.swf", "/games/child.swf", "/games/parent2.swf",
                                 "/assets/far.swf", "/games/dynamic.swf"}) {
            server.server().Get(
                path, [this](const httplib::Request& request, httplib::Response& response) {
                    response.set_content(files.at(request.path).toStdString(),
                                         "application/x-shockwave-flash");
                });
        }
        server.start();
        const QByteArray far = QByteArray::fromStdString(server.url("/assets/far.swf"));
        files = {
            {"/games/parent.swf", movie(doAction(getUrl("child.swf", "_level1")))},
            {"/games/child.swf", colouredMovie(kGreen)},
            {"/games/parent2.swf", movie(doAction(getUrl(far, "_level1")))},
            {"/assets/far.swf", colouredMovie(kBlue)},
            // "chi" + "ld.swf", loaded into level 1 (GetURL2).
            {"/games/dynamic.swf",
             movie(doAction(pushString("chi") + pushString("ld.sw") + QByteArray(1, '\x21') +
                            pushString("f") + QByteArray(1, '\x21') + pushString("_level1") +
                            action(0x9A, QByteArray(1, '\0'))))},
        };
    }
    QString address(const char* path) const { return QString::fromStdString(server.url(path)); }

    TestServer server;
    std::map<std::string, QByteArray> files;
};

/// Whether the player shows the colour, waiting for it; `seen` tells what it showed last.
bool showsColour(FlashPlayer& player, const std::uint8_t (&colour)[3], QColor& seen)
{
    return waitUntil(
        [&] {
            const QImage frame = player.PaintTo();
            seen = frame.pixelColor(frame.width() / 8, frame.height() / 8);
            return std::abs(seen.red() - colour[0]) < 24 &&
                   std::abs(seen.green() - colour[1]) < 24 &&
                   std::abs(seen.blue() - colour[2]) < 24;
        },
        60000);
}

class CaptureTest : public ::testing::Test
{
protected:
    QString address(const char* path) const { return site.address(path); }

    /// Runs the command-line tool as a user would; its output.
    QString capture(const QStringList& arguments)
    {
        QProcess cli;
        cli.start(QStringLiteral(CLIPVAULT_CLI),
                  QStringList{QStringLiteral("capture")} + arguments);
        EXPECT_TRUE(cli.waitForFinished(180000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        return QString::fromUtf8(cli.readAllStandardOutput());
    }

    /// Plays a kept movie with the site gone and waits for the colour of the movie it loads.
    void expectLoadedColour(const QString& file, const std::uint8_t (&colour)[3],
                            MovieServer::OriginLookup lookup = {})
    {
        MovieServer server(PlayerFiles::ruffleFolder());
        server.setOriginLookup(std::move(lookup));
        FlashPlayer player(server);
        player.resize(400, 300);
        player.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&player));
        QSignalSpy ready(&player, &FlashPlayer::ready);
        player.start();
        ASSERT_TRUE(ready.wait(30000));
        player.setMovie(file);
        QColor seen;
        EXPECT_TRUE(showsColour(player, colour, seen))
            << qPrintable(file) << " shows " << qPrintable(seen.name());
    }

    LoaderSite site;
    const std::map<std::string, QByteArray>& files = site.files;
    QTemporaryDir folder;
};

} // namespace

TEST_F(CaptureTest, ACapturedMovieKeepsItsFilesByteForByteAndPlaysThemWithTheSiteGone)
{
    const QString into = folder.filePath(QStringLiteral("kept"));
    QStringList lines;
    for (const char* path : {"/games/parent.swf", "/games/parent2.swf"})
        lines += capture({address(path), QStringLiteral("--into"), into,
                          QStringLiteral("--seconds"), QStringLiteral("0")})
                     .split(u'\n', Qt::SkipEmptyParts);
    QStringList kept;
    for (const QString& line : lines) {
        const QStringList fields = line.split(u'\t');
        ASSERT_EQ(fields.size(), 3) << qPrintable(line);
        const std::string path = QUrl(fields[0]).path().toStdString();
        EXPECT_EQ(readFile(fields[1]), files.at(path)) << path;
        EXPECT_EQ(fields[2].toLongLong(), files.at(path).size());
        kept << QString::fromStdString(path);
    }
    kept.sort();
    EXPECT_EQ(
        kept,
        QStringList({QStringLiteral("/assets/far.swf"), QStringLiteral("/games/child.swf"),
                     QStringLiteral("/games/parent.swf"), QStringLiteral("/games/parent2.swf")}));

    site.server.stop();
    const QString host = QStringLiteral("127.0.0.1_%1").arg(site.server.port());
    expectLoadedColour(QDir(into).filePath(host + QStringLiteral("/games/parent.swf")), kGreen);
    expectLoadedColour(QDir(into).filePath(host + QStringLiteral("/games/parent2.swf")), kBlue);
}

TEST_F(CaptureTest, PlayingAMovieKeepsWhatOnlyPlayingFindsAndTheCatalogueKnowsIt)
{
    const QString data = folder.filePath(QStringLiteral("data"));
    const QString url = address("/games/dynamic.swf");
    const QString out = capture({url, QStringLiteral("--data-dir"), data,
                                 QStringLiteral("--seconds"), QStringLiteral("20")});
    EXPECT_TRUE(out.contains(address("/games/child.swf"))) << qPrintable(out);

    // The item is filed with its files; the site goes; the catalogued movie still plays whole.
    QProcess list;
    list.start(QStringLiteral(CLIPVAULT_CLI), {QStringLiteral("catalogue"), QStringLiteral("list"),
                                               QStringLiteral("--data-dir"), data});
    ASSERT_TRUE(list.waitForFinished(30000));
    const QStringList fields =
        QString::fromUtf8(list.readAllStandardOutput()).trimmed().split(u'\t');
    ASSERT_EQ(fields.size(), 5);
    EXPECT_EQ(fields[0], QStringLiteral("D"));
    const QString movieFile = QDir(fields[2]).filePath(fields[3]);
    EXPECT_EQ(ReadManifest(KeptFolderOf(movieFile)).files.size(), 1);
    site.server.stop();
    expectLoadedColour(movieFile, kGreen, [&](const QString&) { return MovieOrigin{url, false}; });
}

class WholeMovieWindowTest : public MainWindowTest
{
protected:
    LoaderSite site;
};

TEST_F(WholeMovieWindowTest, ADownloadKeepsItsFilesAndThePreviewPlaysThemWithTheSiteGone)
{
    options.PreviewEnabled = 1;
    start();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QSignalSpy ready(&window->preview().player(), &FlashPlayer::ready);
    window->startPlayer();
    ASSERT_TRUE(ready.wait(30000));

    const QString url = site.address("/games/parent.swf");
    ASSERT_GE(app->catalogue().AddItemFromUrl(url, {}), 0);
    app->downloads().StartItemDownload(url);
    ASSERT_TRUE(waitUntil(
        [&] {
            const int index = app->catalogue().FindItemByUrl(url);
            return app->catalogue().itemState(index) == ItemState::Downloaded &&
                   !app->downloads().isBusy();
        },
        60000));
    EXPECT_EQ(app->catalogue().item(app->catalogue().FindItemByUrl(url)).extras.keptFiles, 1);

    site.server.stop();
    tree()->setCurrentIndex(window->treeModel().downloadedNode());
    ASSERT_EQ(window->itemModel().rowCount(), 1);
    EXPECT_EQ(window->itemModel().index(0, 0).data().toString(),
              QStringLiteral("parent.swf  +1 file"));
    QColor seen;
    EXPECT_TRUE(showsColour(window->preview().player(), kGreen, seen)) << qPrintable(seen.name());
}
