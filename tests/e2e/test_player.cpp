// A real movie through the real player: Ruffle in the web engine, fed by the movie server.

#include "flashplayer.h"
#include "flashpreview.h"
#include "movieserver.h"
#include "playerfiles.h"

#include "swfwriter.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QToolButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

class PlayerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        player.resize(400, 300);
        player.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&player));
        QSignalSpy ready(&player, &FlashPlayer::ready);
        player.start();
        ASSERT_TRUE(ready.wait(30000)) << "the player page did not come up";
    }

    QString writeMovie(const SwfSpec& spec, const char* name)
    {
        const QString path = QDir(folder.path()).filePath(QLatin1String(name));
        EXPECT_TRUE(writeFile(path, WriteSwf(spec)));
        return path;
    }

    bool playing()
    {
        QSignalSpy answer(&player, &FlashPlayer::playingReported);
        player.queryPlaying();
        if (answer.isEmpty() && !answer.wait(5000))
            return false;
        return answer.first().first().toBool();
    }

    QTemporaryDir folder;
    MovieServer server{PlayerFiles::ruffleFolder()};
    FlashPlayer player{server};
};

QColor centreOf(const QImage& image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

} // namespace

TEST_F(PlayerTest, PlaysPlainAndCompressedMoviesAndTellsTheirFacts)
{
    for (const char* signature : {"FWS", "CWS"}) {
        SwfSpec spec;
        spec.signature = signature;
        spec.version = 9;
        spec.widthPixels = 320;
        spec.heightPixels = 240;
        spec.frameRate = 30;
        spec.frameCount = 12;
        spec.background = {0x20, 0xC0, 0x40};
        const QString movie = writeMovie(spec, signature);
        QSignalSpy facts(&player, &FlashPlayer::metadataChanged);
        player.setMovie(movie);
        ASSERT_TRUE(facts.wait(20000)) << signature;
        const QJsonObject metadata = player.metadata();
        EXPECT_EQ(metadata.value(QStringLiteral("width")).toInt(), 320);
        EXPECT_EQ(metadata.value(QStringLiteral("height")).toInt(), 240);
        EXPECT_EQ(metadata.value(QStringLiteral("frameRate")).toDouble(), 30);
        EXPECT_EQ(metadata.value(QStringLiteral("frames")).toInt(), 12);
        EXPECT_EQ(metadata.value(QStringLiteral("version")).toInt(), 9);
        EXPECT_EQ(player.movie(), movie) << "Movie reads back what was written";
    }
}

TEST_F(PlayerTest, StopPlayAndPaintTo)
{
    SwfSpec spec;
    spec.background = {0xD0, 0x20, 0x20};
    spec.frameCount = 50;
    QSignalSpy facts(&player, &FlashPlayer::metadataChanged);
    player.setMovie(writeMovie(spec, "red.swf"));
    ASSERT_TRUE(facts.wait(20000));
    QTest::qWait(500);

    EXPECT_TRUE(playing());
    player.StopPlay();
    EXPECT_FALSE(playing());
    player.Play();
    EXPECT_TRUE(playing());
    player.Stop();
    EXPECT_FALSE(playing());

    // The frame shows the movie's background colour.
    QColor centre;
    for (int attempt = 0; attempt < 200; ++attempt) {
        const QImage frame = player.PaintTo();
        EXPECT_EQ(frame.size(), player.size());
        centre = centreOf(frame);
        if (centre.red() > 180 && centre.green() < 80)
            break;
        QTest::qWait(100);
    }
    EXPECT_NEAR(centre.red(), 0xD0, 24);
    EXPECT_NEAR(centre.green(), 0x20, 24);
    EXPECT_NEAR(centre.blue(), 0x20, 24);
}

TEST_F(PlayerTest, NamesThatAreNoMovieShowNothingAndRaiseNothing)
{
    QSignalSpy failures(&player, &FlashPlayer::loadFailed);
    for (const char* name : {"no flash", "/", "/nonexistent/movie.swf"}) {
        player.setMovie(QString::fromLatin1(name));
        EXPECT_EQ(player.movie(), QString::fromLatin1(name));
    }
    QTest::qWait(500);
    EXPECT_TRUE(failures.isEmpty());
    EXPECT_FALSE(playing());
}

TEST(FlashPreview, PlaysWhatIsTypedOnlyWhenItEndsInSwf)
{
    QTemporaryDir folder;
    const QString movie = QDir(folder.path()).filePath(QStringLiteral("typed.swf"));
    ASSERT_TRUE(writeFile(movie, WriteSwf(SwfSpec{})));
    MovieServer server(PlayerFiles::ruffleFolder());
    TFlashPreview preview(server);
    EXPECT_EQ(preview.windowTitle(), QStringLiteral("Flash Preview"));
    preview.PlayMovie(QStringLiteral("/"));
    auto* edit = preview.findChild<QLineEdit*>(QStringLiteral("edt_filename"));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QStringLiteral("/"));
    EXPECT_EQ(preview.player().movie(), QStringLiteral("/"));

    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    edit->setFocus();
    edit->setText(QDir(folder.path()).filePath(QStringLiteral("typed.SWF")));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(preview.player().movie(), QStringLiteral("/")) << "an upper-case extension plays nothing";
    edit->setText(movie);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(preview.player().movie(), movie);

    const QString chosen = QDir(folder.path()).filePath(QStringLiteral("chosen.swf"));
    TFlashPreview::ChooseMovie = [&](QWidget*) { return chosen; };
    preview.findChild<QToolButton*>(QStringLiteral("btn_browse"))->click();
    EXPECT_EQ(preview.player().movie(), chosen);
    EXPECT_EQ(edit->text(), chosen);
}
