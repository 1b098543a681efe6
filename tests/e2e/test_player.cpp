// A real movie through the real player: Ruffle in the web engine, fed by the movie server.

#include "../gui/mainwindowfixture.h"

#include "flashplayer.h"
#include "keptfiles.h"
#include "flashpreview.h"
#include "moviefactskeeper.h"
#include "movieserver.h"
#include "options.h"
#include "picturecache.h"
#include "picturekeeper.h"
#include "playerfiles.h"
#include "processtree.h"
#include "playerreserve.h"
#include "mainactions.h"
#include "previewpane.h"
#include "records.h"
#include "vault.h"

#include "exportfixture.h"
#include "scripteddialogs.h"
#include "scriptedprompt.h"
#include "shownplayer.h"
#include "swfwriter.h"
#include "waituntil.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QLineEdit>
#include <QProcess>
#include <QToolButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

namespace {

class PlayerTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(ShowAndStartPlayer(player)); }

    QString writeMovie(const SwfMovie& movie, const char* name)
    {
        const QString path = QDir(folder.path()).filePath(QLatin1String(name));
        EXPECT_TRUE(writeFile(path, WriteSwf(movie)));
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

/// A point of the stage away from its centre, where a player may draw its buttons.
QColor stageColour(const QImage& image)
{
    return image.pixelColor(image.width() / 8, image.height() / 8);
}

} // namespace

TEST_F(PlayerTest, PlaysPlainAndCompressedMoviesAndTellsTheirFacts)
{
    for (const char* signature : {"FWS", "CWS"}) {
        SwfMovie movie;
        movie.signature = signature;
        movie.version = 9;
        movie.widthPixels = 320;
        movie.heightPixels = 240;
        movie.frameRate = 30;
        movie.frameCount = 12;
        movie.background = {0x20, 0xC0, 0x40};
        const QString file = writeMovie(movie, signature);
        QSignalSpy facts(&player, &FlashPlayer::metadataChanged);
        player.setMovie(file);
        ASSERT_TRUE(facts.wait(30000)) << signature;
        const QJsonObject metadata = player.metadata();
        EXPECT_EQ(metadata.value(QStringLiteral("width")).toInt(), 320);
        EXPECT_EQ(metadata.value(QStringLiteral("height")).toInt(), 240);
        EXPECT_EQ(metadata.value(QStringLiteral("frameRate")).toDouble(), 30);
        EXPECT_EQ(metadata.value(QStringLiteral("frames")).toInt(), 12);
        EXPECT_EQ(metadata.value(QStringLiteral("version")).toInt(), 9);
        EXPECT_EQ(player.movie(), file) << "Movie reads back what was written";
    }
}

TEST_F(PlayerTest, StopPlayAndPaintTo)
{
    SwfMovie movie;
    movie.background = {0xD0, 0x20, 0x20};
    movie.frameCount = 50;
    QSignalSpy facts(&player, &FlashPlayer::metadataChanged);
    player.setMovie(writeMovie(movie, "red.swf"));
    ASSERT_TRUE(facts.wait(30000));
    ASSERT_TRUE(waitUntil([&] { return playing(); })) << "the movie never started";

    // The frame of the playing movie shows its background colour.
    QColor stage;
    // The checks below say which colour was seen last, should it never turn red.
    static_cast<void>(waitUntil([&] {
        const QImage frame = player.PaintTo();
        EXPECT_EQ(frame.size(), player.size());
        stage = stageColour(frame);
        return stage.red() > 180 && stage.green() < 80;
    }));
    EXPECT_NEAR(stage.red(), 0xD0, 24);
    EXPECT_NEAR(stage.green(), 0x20, 24);
    EXPECT_NEAR(stage.blue(), 0x20, 24);

    player.StopPlay();
    EXPECT_FALSE(playing());
    // Paused, as for a snapshot: the whole stage, its centre too, is the movie's frame, with
    // no play button or other overlay of the player drawn over it.
    const QImage paused = player.PaintTo();
    for (const QPoint point : {QPoint(paused.width() / 2, paused.height() / 2),
                               QPoint(paused.width() / 8, paused.height() / 8)}) {
        const QColor colour = paused.pixelColor(point);
        EXPECT_NEAR(colour.red(), 0xD0, 24) << point.x() << "," << point.y();
        EXPECT_NEAR(colour.green(), 0x20, 24) << point.x() << "," << point.y();
    }
    player.Play();
    EXPECT_TRUE(playing());
    player.Stop();
    EXPECT_FALSE(playing());
}

TEST_F(PlayerTest, AnExportedRuffleBundlePlaysBackAsItsMovie)
{
    ExportFixture exported;
    const QString bundle = QDir(folder.path()).filePath(QStringLiteral("game.ruf"));
    ASSERT_TRUE(ExportRuffleBundle(exported.source, bundle).ok());
    QSignalSpy loaded(&player, &FlashPlayer::movieLoaded);
    QSignalSpy failed(&player, &FlashPlayer::loadFailed);
    player.setMovie(bundle);
    ASSERT_TRUE(waitUntil([&] { return !loaded.isEmpty() || !failed.isEmpty(); }, 60000));
    EXPECT_TRUE(failed.isEmpty()) << qPrintable(failed.value(0).value(1).toString());
    ASSERT_TRUE(waitUntil([&] { return !player.metadata().isEmpty(); }));
    EXPECT_EQ(player.metadata().value(QStringLiteral("width")).toInt(), 550);
    QString shown = QStringLiteral("?");
    player.askShownError([&](const QString& error) { shown = error; });
    ASSERT_TRUE(waitUntil([&] { return shown != u"?"; }));
    EXPECT_TRUE(shown.isEmpty()) << "Ruffle shows no error: " << qPrintable(shown);
}

TEST_F(PlayerTest, NamesThatAreNoMovieShowNothingAndRaiseNothing)
{
    QSignalSpy failures(&player, &FlashPlayer::loadFailed);
    for (const char* name : {"no flash", "/", "/nonexistent/movie.swf"}) {
        player.setMovie(QString::fromLatin1(name));
        EXPECT_EQ(player.movie(), QString::fromLatin1(name));
    }
    // The page answers in order: once it answers this question, a failure it had for the names
    // above would have arrived already.
    EXPECT_FALSE(playing());
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(PlayerTest, AWindowMadeAheadPlaysAtOnceAndTheNextIsMadeOnceItsMovieShows)
{
    ScriptedDialogs dialogs;
    PlayerReserve reserve(server, dialogs);
    reserve.prepare();
    ASSERT_TRUE(reserve.holdsWindow());
    std::unique_ptr<TFlashPreview> window(reserve.take());
    EXPECT_FALSE(reserve.holdsWindow()) << "the next one was made while the movie loads";
    // It played the empty movie before it was asked for: Ruffle was up before the window.
    ASSERT_TRUE(waitUntil([&] { return !window->player().metadata().isEmpty(); }, 60000));

    SwfMovie movie;
    movie.background = {0x20, 0x20, 0xD0};
    QSignalSpy settled(&reserve, &PlayerReserve::takenPlayerSettled);
    window->PlayMovie(writeMovie(movie, "blue.swf"));
    window->resize(400, 300);
    window->show();
    ASSERT_TRUE(settled.wait(60000));
    EXPECT_FALSE(reserve.holdsWindow());
    EXPECT_TRUE(waitUntil([&] { return reserve.holdsWindow(); }, 30000));
    QColor stage;
    EXPECT_TRUE(waitUntil([&] {
        stage = stageColour(window->player().PaintTo());
        return stage.blue() > 180 && stage.red() < 80;
    })) << "the stage shows "
        << qPrintable(stage.name());
}

TEST_F(PlayerTest, MoviesFromTheDesktopPlayInTheOneOpenWindow)
{
    ScriptedDialogs dialogs;
    PlayerReserve reserve(server, dialogs);
    QSignalSpy closed(&reserve, &PlayerReserve::playerClosed);
    const auto players = [] {
        int open = 0;
        for (QWidget* window : QApplication::topLevelWidgets())
            open += qobject_cast<TFlashPreview*>(window) && window->isVisible() ? 1 : 0;
        return open;
    };
    const QString one = writeMovie(SwfMovie{}, "one.swf");
    TFlashPreview* first = reserve.play(one);
    TFlashPreview* second = reserve.play(writeMovie(SwfMovie{}, "two.swf"));
    EXPECT_EQ(first, second);
    EXPECT_EQ(players(), 1);
    first->close();
    ASSERT_TRUE(waitUntil([&] { return closed.count() == 1; }));
    TFlashPreview* third = reserve.play(one);
    EXPECT_EQ(players(), 1) << "a new window once the last one was closed";
    third->close();
    ASSERT_TRUE(waitUntil([&] { return closed.count() == 2; }));
}

TEST(FlashPreview, PlaysWhatIsTypedOnlyWhenItEndsInSwf)
{
    QTemporaryDir folder;
    const QString movie = QDir(folder.path()).filePath(QStringLiteral("typed.swf"));
    ASSERT_TRUE(writeFile(movie, WriteSwf(SwfMovie{})));
    MovieServer server(PlayerFiles::ruffleFolder());
    ScriptedDialogs dialogs;
    TFlashPreview preview(server, dialogs);
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
    EXPECT_EQ(preview.player().movie(), QStringLiteral("/"))
        << "an upper-case extension plays nothing";
    edit->setText(movie);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(preview.player().movie(), movie);

    const QString chosen = QDir(folder.path()).filePath(QStringLiteral("chosen.swf"));
    dialogs.movie = chosen;
    preview.findChild<QToolButton*>(QStringLiteral("btn_browse"))->click();
    EXPECT_EQ(preview.player().movie(), chosen);
    EXPECT_EQ(edit->text(), chosen);

    // Opened from the menu, the window has the keyboard in its path.
    TFlashPreview* opened = OpenFlashPreview(QStringLiteral("/"), server, dialogs, nullptr);
    EXPECT_TRUE(waitUntil([&] {
        return opened->isActiveWindow() &&
               opened->findChild<QLineEdit*>(QStringLiteral("edt_filename"))->hasFocus();
    })) << "the keyboard is not in the path";
    opened->close();
}

namespace {

/// The main window's preview pane on its own: the head bar with "Preview" and the player.
class PreviewPaneTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        pane = std::make_unique<PreviewPane>(server, vault, prompt, dialogs, nullptr, &keeper);
        pane->resize(400, 320);
        pane->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pane.get()));
        QSignalSpy ready(&pane->player(), &FlashPlayer::ready);
        pane->start();
        ASSERT_TRUE(ready.wait(30000)) << "the player page did not come up";
    }

    ItemRecord downloadedItem(const SwfMovie& movie, const char* name)
    {
        ItemRecord item = EmptyItemRecord();
        item.State = static_cast<char>(ItemState::Downloaded);
        SetFieldText(item.Url, QStringLiteral("http://example.com/") + QLatin1String(name));
        SetFieldText(item.Folder, folder.path() + u'/');
        SetFieldText(item.FileName, QLatin1String(name));
        EXPECT_TRUE(writeFile(ItemFilePath(item), WriteSwf(movie)));
        // Catalogued and read for what is inside, as the program does after a download.
        vault.catalogue().AppendItem(item);
        keeper.gather();
        return item;
    }
    QString facts() const
    {
        return pane->findChild<QLabel*>(QStringLiteral("lblMovieFacts"))->text();
    }

    QTemporaryDir folder;
    MovieServer server{PlayerFiles::ruffleFolder()};
    ScriptedPrompt prompt;
    Vault vault{folder.path(), DefaultOptions(), prompt}; // the preview on, as by default
    MovieFactsKeeper keeper{vault.catalogue(), folder.path()};
    ScriptedDialogs dialogs;
    std::unique_ptr<PreviewPane> pane;
};

} // namespace

TEST_F(PreviewPaneTest, FactsAreAnItemsOnlyAndCountFramesInEnglish)
{
    QSignalSpy facts(&pane->player(), &FlashPlayer::metadataChanged);
    pane->showNothing();
    ASSERT_TRUE(facts.wait(30000)) << "the placeholder movie was never loaded";
    EXPECT_TRUE(this->facts().isEmpty()) << "the placeholder's facts are nobody's";

    SwfMovie single;
    single.frameCount = 1;
    pane->showItem(downloadedItem(single, "one.swf"));
    ASSERT_TRUE(waitUntil([&] {
        return this->facts().endsWith(QStringLiteral(" · 1 frame · ActionScript 1"));
    })) << qPrintable(this->facts());

    // What is inside: its ActionScript and title on the line, the rest in its tooltip.
    SwfMovie inside;
    inside.tags =
        swftags::fileAttributes(0x08) +
        swftags::metadata("<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-"
                          "ns#'><rdf:Description xmlns:dc='http://purl.org/dc/elements/"
                          "1.1/'><dc:title>Robots</dc:title></rdf:Description></rdf:RDF>") +
        swftags::editText(1, "Insert coin", false);
    pane->showItem(downloadedItem(inside, "inside.swf"));
    ASSERT_TRUE(waitUntil([&] { return this->facts().endsWith(QStringLiteral("“Robots”")); }))
        << qPrintable(this->facts());
    EXPECT_TRUE(this->facts().contains(QStringLiteral(" · ActionScript 3 · ")));
    EXPECT_TRUE(pane->findChild<QLabel*>(QStringLiteral("lblMovieFacts"))
                    ->toolTip()
                    .contains(QStringLiteral("Texts: Insert coin")));

    pane->showNothing();
    EXPECT_TRUE(this->facts().isEmpty());
}

TEST_F(PreviewPaneTest, ThePreviewPlaysAgainWhenFullScreenCloses)
{
    SwfMovie movie;
    movie.frameCount = 50;
    QSignalSpy loaded(&pane->player(), &FlashPlayer::movieLoaded);
    pane->showItem(downloadedItem(movie, "long.swf"));
    ASSERT_TRUE(loaded.wait(30000));
    const auto playing = [&] {
        QSignalSpy answer(&pane->player(), &FlashPlayer::playingReported);
        pane->player().queryPlaying();
        return (!answer.isEmpty() || answer.wait(5000)) && answer.first().first().toBool();
    };
    ASSERT_TRUE(waitUntil(playing));

    QTimer::singleShot(0, [] {
        auto* preview = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(preview, nullptr) << "full screen opens the stand-alone player";
        preview->reject();
    });
    pane->but_maxize_flashClick();
    EXPECT_TRUE(waitUntil(playing)) << "back from full screen, the pane plays on";
}

TEST_F(MainWindowTest, PlayStandAloneUsesOurPlayerWhenTheDesktopHasNoneForMovies)
{
    const QString movie = path("kept.swf");
    ASSERT_TRUE(writeFile(movie, WriteSwf(SwfMovie())));
    ASSERT_TRUE(writeFile(path("downloading.log"),
                          logHeaderBytes("clipvault", 1) +
                              itemBytes('D', "http://a/kept.swf", "Downloaded",
                                        (folder.path() + u'/').toUtf8().constData(), "kept.swf")));
    // Ours is registered for movies (the package does so): still no other program.
    desktop.defaults.insert(QStringLiteral("application/vnd.adobe.flash.movie"),
                            QStringLiteral("io.github.clipvault.ClipVault.desktop"));
    start();
    tree()->setCurrentIndex(window->treeModel().downloadedNode());
    ASSERT_EQ(window->itemModel().rowCount(), 1);
    list()->selectionModel()->select(window->itemModel().index(0, 0),
                                     QItemSelectionModel::ClearAndSelect |
                                         QItemSelectionModel::Rows);
    QString playing;
    QTimer::singleShot(0, [&] {
        auto* player = qobject_cast<TFlashPreview*>(QApplication::activeModalWidget());
        ASSERT_NE(player, nullptr);
        playing = player->findChild<QLineEdit*>(QStringLiteral("edt_filename"))->text();
        player->close();
    });
    window->actions().action(MainActions::PlayStandAlone)->trigger();
    EXPECT_EQ(playing, movie);
    EXPECT_TRUE(desktop.opened.isEmpty()) << "not handed to whatever takes any file";

    // With a movie player of the desktop's, the desktop opens it.
    desktop.defaults.insert(QStringLiteral("application/x-shockwave-flash"),
                            QStringLiteral("org.videolan.VLC.desktop"));
    window->actions().action(MainActions::PlayStandAlone)->trigger();
    EXPECT_EQ(desktop.opened, QStringList{movie});
}

namespace {

/// A movie of one colour whose first frame runs `actions` (AVM1), or an AVM2 movie with none.
QByteArray colouredMovie(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                         const QByteArray& actions = {}, bool actionScript3 = false)
{
    SwfMovie movie;
    movie.background = {red, green, blue};
    movie.frameCount = 10;
    movie.tags = actionScript3 ? swftags::fileAttributes(0x08) : swftags::doAction(actions);
    return WriteSwf(movie);
}

QRgb centreOf(const QString& png)
{
    const QImage picture(png);
    return picture.isNull() ? 0 : picture.pixel(picture.width() / 2, picture.height() / 2);
}

/// The nice values of the living processes below `ancestor`.
QList<int> NicesOfDescendants(pid_t ancestor)
{
    QList<int> nices;
    for (const pid_t pid : ProcessesBelow(ancestor))
        nices << ::getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
    return nices;
}

} // namespace

TEST(Pictures, EveryMovieGetsAPictureOfItsColourOrAPlaceholderSayingWhy)
{
    QTemporaryDir folder;
    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    Catalogue catalogue(prompt, options);
    catalogue.AddCategory(CategoryNamed(QStringLiteral("Downloaded")));
    // A throw (AVM1 "throw 'boom'") and an endless loop (a jump to itself).
    const QByteArray throwing = swftags::pushString("boom") + QByteArray("\x2a\x00", 2);
    const QByteArray looping("\x99\x02\x00\xfb\xff\x00", 6);
    struct Movie
    {
        const char* name;
        QByteArray bytes;
        QRgb colour; ///< 0: a placeholder is expected
        const char* reason;
    };
    const Movie movies[] = {
        {"red.swf", colouredMovie(0xff, 0, 0), qRgb(0xff, 0, 0), ""},
        {"twice.swf", colouredMovie(0xff, 0, 0), qRgb(0xff, 0, 0), ""},
        {"blue3.swf", colouredMovie(0, 0, 0xff, {}, true), qRgb(0, 0, 0xff), ""},
        {"throws.swf", colouredMovie(0, 0xff, 0, throwing), qRgb(0, 0xff, 0), ""},
        {"loops.swf", colouredMovie(0xff, 0xff, 0, looping), 0, "did not show within 10 s"},
        {"damaged.swf", QByteArray("FWS\x0a\xff\xff\x00\x00garbage", 16), 0, "Ruffle"},
    };
    for (const Movie& movie : movies) {
        const QString file = QDir(folder.path()).filePath(QLatin1String(movie.name));
        ASSERT_TRUE(writeFile(file, movie.bytes));
        ASSERT_GE(catalogue.AddItemFromUrlAs(QUrl::fromLocalFile(file).toString(), {}, file), 0);
        catalogue.SetItemState(catalogue.itemCount() - 1, ItemState::Downloaded);
    }

    PictureKeeper keeper(catalogue, QStringLiteral(CLIPVAULT_PROGRAM));
    QSignalSpy made(&keeper, &PictureKeeper::pictureMade);
    keeper.gather();
    // While it draws, the helper and every process of its web engine run at the lowest
    // priority; once nothing is left, they end.
    ASSERT_TRUE(waitUntil([&] { return !made.isEmpty(); }, 180000));
    QList<int> nices;
    EXPECT_TRUE(waitUntil([&] {
        nices = NicesOfDescendants(::getpid());
        return !nices.isEmpty() && nices.count(19) == nices.size();
    })) << "not every helper process is at nice 19: "
        << nices.count(19) << " of " << nices.size();
    ASSERT_TRUE(waitUntil([&] { return made.size() == 5; }, 180000)) << made.size();
    EXPECT_FALSE(waitUntil([&] { return made.size() > 5; }, 500))
        << "a movie filed twice is drawn once";
    EXPECT_TRUE(waitUntil([&] { return NicesOfDescendants(::getpid()).isEmpty(); }, 60000))
        << "the helper stays when nothing is left to draw";
    for (int i = 0; i < catalogue.itemCount(); ++i) {
        const Movie& movie = movies[i];
        SCOPED_TRACE(movie.name);
        const QByteArray sha256 = catalogue.item(i).extras.sha256;
        ASSERT_EQ(sha256, FileSha256(ItemFilePath(catalogue.item(i)))) << "noted for the item";
        const PictureEntry entry = LookUpPicture(sha256);
        if (movie.colour != 0) {
            ASSERT_EQ(entry.kind, PictureEntry::Kind::Picture) << qPrintable(entry.reason);
            EXPECT_EQ(centreOf(PicturePath(sha256)), movie.colour);
            EXPECT_EQ(QImage(PicturePath(sha256)).width(), kPictureSize);
        } else {
            ASSERT_EQ(entry.kind, PictureEntry::Kind::Failed);
            EXPECT_TRUE(entry.reason.contains(QLatin1String(movie.reason)))
                << qPrintable(entry.reason);
        }
    }

    // A drawn or failed movie is not drawn again; the command line draws one on its own.
    made.clear();
    keeper.gather();
    EXPECT_FALSE(waitUntil([&] { return !made.isEmpty(); }, 2000));
    const QString out = QDir(folder.path()).filePath(QStringLiteral("out.png"));
    QProcess cli;
    cli.start(QStringLiteral(CLIPVAULT_CLI),
              {QStringLiteral("picture"), QDir(folder.path()).filePath(QStringLiteral("blue3.swf")),
               out});
    ASSERT_TRUE(cli.waitForFinished(120000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().constData();
    EXPECT_EQ(centreOf(out), qRgb(0, 0, 0xff));

    // A movie imported and exported for an archive's curators carries its picture as the
    // curation's logo and screenshot.
    const QString data = QDir(folder.path()).filePath(QStringLiteral("data"));
    const QString red = QDir(folder.path()).filePath(QStringLiteral("red.swf"));
    const QString curation = QDir(folder.path()).filePath(QStringLiteral("curation"));
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("import"), red},
          QStringList{QStringLiteral("export"),
                      QUrl::fromLocalFile(red).toString(QUrl::FullyEncoded),
                      QStringLiteral("--curation"), curation}}) {
        cli.start(QStringLiteral(CLIPVAULT_CLI),
                  arguments + QStringList{QStringLiteral("--data-dir"), data});
        ASSERT_TRUE(cli.waitForFinished(120000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().constData();
    }
    EXPECT_EQ(centreOf(curation + QStringLiteral("/logo.png")), qRgb(0xff, 0, 0));
    EXPECT_EQ(centreOf(curation + QStringLiteral("/ss.png")), qRgb(0xff, 0, 0));
}
