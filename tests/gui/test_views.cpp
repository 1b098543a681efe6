#include "mainwindowfixture.h"

#include "flashplayer.h"
#include "jpegwriter.h"
#include "mainactions.h"
#include "playerfiles.h"
#include "previewpane.h"

#include "datafolder.h"
#include "modaldialog.h"
#include "picturecache.h"
#include "picturekeeper.h"
#include "swfwriter.h"
#include "waituntil.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QSignalSpy>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QMimeData>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <turbojpeg.h>

namespace {

class ViewTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        movieFile = QDir(folder.path()).filePath(QStringLiteral("Game/kept.swf"));
        QDir().mkpath(QFileInfo(movieFile).absolutePath());
        ASSERT_TRUE(writeFile(movieFile, "FWS movie"));
        const QByteArray folderBytes =
            (QDir(folder.path()).filePath(QStringLiteral("Game")) + u'/').toUtf8();
        ASSERT_TRUE(
            writeFile(path("downloading.log"),
                      logHeaderBytes("clipvault", 4) +
                          itemBytes('D', "http://a/kept.swf", "Game", folderBytes.constData(),
                                    "kept.swf", "a comment") +
                          itemBytes('D', "http://a/two.swf", "Game", "/m/Game/", "two.swf") +
                          itemBytes('D', "http://a/three.swf", "Game", "/m/Game/", "three.swf") +
                          itemBytes('N', "http://a/new.swf", "Fun", "/m/Fun/", "new.swf")));
        start();
    }
    bool enabled(MainActions::Id id) { return window->actions().action(id)->isEnabled(); }
    QStringList infoRows() const
    {
        auto* info = window->findChild<QTreeWidget*>(QStringLiteral("lvItemInfo"));
        QStringList rows;
        for (int i = 0; i < info->topLevelItemCount(); ++i)
            rows << info->topLevelItem(i)->text(0) + QStringLiteral("=") +
                        info->topLevelItem(i)->text(1);
        return rows;
    }
    void selectRows(std::initializer_list<int> rows)
    {
        list()->selectionModel()->clearSelection();
        for (int row : rows)
            list()->selectionModel()->select(window->itemModel().index(row, 0),
                                             QItemSelectionModel::Select |
                                                 QItemSelectionModel::Rows);
    }
    /// Drops the selected rows on a tree node: the drag carries the rows' URLs, and the drop
    /// files the selection under the node.
    void dropOn(int node)
    {
        const std::unique_ptr<QMimeData> mime(
            window->itemModel().mimeData(list()->selectionModel()->selectedRows()));
        EXPECT_TRUE(mime->hasFormat(ItemListModel::itemRowsMimeType()));
        window->refileSelectedRows(window->treeModel().nodeAt(node));
    }
    QString movieFile;
};

} // namespace

TEST_F(ViewTest, SelectingARowShowsItsPropertiesAndPreviewsItsMovie)
{
    tree()->setCurrentIndex(window->treeModel().nodeAt(4)); // Game
    EXPECT_EQ(infoRows(),
              (QStringList{"Source URL=http://a/kept.swf", "Save as=kept.swf", "Category=Game",
                           "Path=" + QDir(folder.path()).filePath(QStringLiteral("Game")) + u'/',
                           "Comment=a comment"}));
    EXPECT_EQ(window->preview().player().movie(), movieFile)
        << "a downloaded item plays from its file";

    tree()->setCurrentIndex(window->treeModel().nodeAt(1)); // Downloading
    EXPECT_EQ(window->preview().player().movie(), QStringLiteral("http://a/new.swf"))
        << "any other from its address";

    tree()->setCurrentIndex(window->treeModel().nodeAt(6)); // Deleted: empty
    EXPECT_TRUE(infoRows().isEmpty());
    EXPECT_EQ(window->preview().player().movie(), PlayerFiles::noneMovie());
    EXPECT_TRUE(QFileInfo::exists(PlayerFiles::noneMovie())) << "none.swf ships with the program";
}

TEST_F(ViewTest, AnItemKeptWithItsFilesSaysHowManyInTheListAndTheInfoPane)
{
    Catalogue& catalogue = app->catalogue();
    const int index = catalogue.FindItemByUrl(QStringLiteral("http://a/kept.swf"));
    ItemRecord item = catalogue.item(index);
    item.extras.keptFiles = 3;
    item.extras.sha256 = "ab12";
    catalogue.updateItem(index, item);
    tree()->setCurrentIndex(window->treeModel().nodeAt(4)); // Game
    EXPECT_EQ(window->itemModel().index(0, ItemListModel::FileNameColumn).data().toString(),
              QStringLiteral("kept.swf  +3 files"));
    EXPECT_EQ(infoRows().mid(5),
              (QStringList{"Kept files=+3 files (in kept.swf.files)", "SHA-256=ab12"}));
}

TEST_F(ViewTest, AnItemImportedInPlaceShowsItsFilesNameAndTheFolderItIsIn)
{
    Catalogue& catalogue = app->catalogue();
    const int index = catalogue.FindItemByUrl(QStringLiteral("http://a/kept.swf"));
    ItemRecord item = catalogue.item(index);
    SetFieldText(item.FileName, QStringLiteral("/home/u/old movies/intro.swf"));
    catalogue.updateItem(index, item);
    tree()->setCurrentIndex(window->treeModel().nodeAt(4)); // Game
    EXPECT_EQ(window->itemModel().index(0, ItemListModel::FileNameColumn).data().toString(),
              QStringLiteral("intro.swf"));
    EXPECT_EQ(infoRows().mid(1, 3),
              (QStringList{"Save as=intro.swf", "Category=Game", "Path=/home/u/old movies/"}));
}

TEST_F(ViewTest, AFailedDownloadSaysWhyInItsTileTheInfoPaneAndThePreview)
{
    Catalogue& catalogue = app->catalogue();
    const int index = catalogue.FindItemByUrl(QStringLiteral("http://a/new.swf"));
    ItemRecord item = catalogue.item(index);
    item.State = static_cast<char>(ItemState::Failed);
    item.extras.failure = QStringLiteral("the server answered 404");
    catalogue.updateItem(index, item);
    listedUrls(4);
    listedUrls(1); // Downloading
    EXPECT_EQ(window->itemModel().index(0, 0).data(ItemListModel::FailureRole).toString(),
              QStringLiteral("Download failed: the server answered 404"));
    EXPECT_TRUE(infoRows().contains(QStringLiteral("Download failed=the server answered 404")))
        << qPrintable(infoRows().join(u'|'));
    EXPECT_EQ(window->preview().player().movie(), PlayerFiles::noneMovie())
        << "no player's error stands for the reason";
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("lblMovieFacts"))->text(),
              QStringLiteral("Download failed: the server answered 404"));
}

TEST_F(ViewTest, ExportWritesTheSelectedMovieWhereTheUserPicksAndSaysSo)
{
    tree()->setCurrentIndex(window->treeModel().nodeAt(4)); // Game: kept.swf selected
    const QString bundle = QDir(folder.path()).filePath(QStringLiteral("kept.ruf"));
    dialogs.exportTarget = {bundle, false};
    window->actions().action(MainActions::ExportItem)->trigger();
    EXPECT_EQ(dialogs.exportSuggestions, QStringList{QStringLiteral("kept")});
    EXPECT_TRUE(QFileInfo(bundle).isFile());
    ASSERT_FALSE(prompt.messages.empty());
    EXPECT_TRUE(
        prompt.messages.back().text.startsWith(bundle + QStringLiteral(" export complete!")))
        << qPrintable(prompt.messages.back().text);

    dialogs.exportTarget = {}; // cancelled: nothing written, nothing said
    const std::size_t said = prompt.messages.size();
    window->actions().action(MainActions::ExportItem)->trigger();
    EXPECT_EQ(prompt.messages.size(), said);
}

TEST_F(ViewTest, MoviesOnDiskAreImportedFromTheDialogOrByADropAndTheSummaryIsSaid)
{
    const QString movies = QDir(folder.path()).filePath(QStringLiteral("on disk"));
    QDir().mkpath(movies);
    SwfMovie red;
    red.background = {0xFF, 0, 0};
    ASSERT_TRUE(writeFile(movies + QStringLiteral("/red.swf"), WriteSwf(red)));
    ASSERT_TRUE(writeFile(movies + QStringLiteral("/note.txt"), "no movie"));
    const auto imported = [&](const std::size_t said) {
        return waitUntil([&] { return prompt.messages.size() > said; }, 60000)
                   ? prompt.messages.back().text
                   : QString();
    };

    tree()->setCurrentIndex(window->treeModel().nodeAt(4)); // Game
    onNextModal([&](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("edtSource"))->setText(movies);
        EXPECT_EQ(dialog.findChild<QComboBox*>(QStringLiteral("cmbCategory"))->currentText(),
                  QStringLiteral("Game"));
        dialog.findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
    });
    std::size_t said = prompt.messages.size();
    window->actions().action(MainActions::ImportMovies)->trigger();
    EXPECT_EQ(imported(said), QStringLiteral("Imported from %1: 1 added, 0 the same, 0 unreadable, "
                                             "1 skipped (1 not a Flash movie)")
                                  .arg(movies));
    const QString address =
        QUrl::fromLocalFile(movies + QStringLiteral("/red.swf")).toString(QUrl::FullyEncoded);
    EXPECT_TRUE(listedUrls(4).contains(address)) << "filed under Game";

    // The same folder dropped from a file manager: its movie is the same one.
    QMimeData dragged;
    dragged.setUrls({QUrl::fromLocalFile(movies)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted()) << "files from a file manager are welcome";
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    said = prompt.messages.size();
    QApplication::sendEvent(window.get(), &drop);
    EXPECT_TRUE(imported(said).contains(QStringLiteral("0 added, 1 the same")));
}

TEST_F(ViewTest, TheGalleryShowsTheListsRowsAndSelectionAsPicturesAndIsRemembered)
{
    tree()->setCurrentIndex(window->treeModel().nodeAt(4)); // Game: kept.swf selected
    Catalogue& catalogue = app->catalogue();
    const QByteArray sha256(64, 'a');
    ItemRecord kept = catalogue.item(catalogue.FindItemByUrl(QStringLiteral("http://a/kept.swf")));
    kept.extras.sha256 = sha256;
    catalogue.updateItem(catalogue.FindItemByUrl(QStringLiteral("http://a/kept.swf")), kept);
    QImage red(256, 192, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(QDir().mkpath(PicturesFolder()));
    ASSERT_TRUE(red.save(PicturePath(sha256)));

    window->actions().action(MainActions::Gallery)->trigger();
    auto* gallery = window->findChild<QListView*>(QStringLiteral("lvGallery"));
    ASSERT_NE(gallery, nullptr);
    EXPECT_TRUE(gallery->isVisibleTo(window.get()));
    EXPECT_FALSE(list()->isVisibleTo(window.get()));
    EXPECT_EQ(gallery->selectionModel(), list()->selectionModel()) << "one selection";
    EXPECT_EQ(gallery->model()->rowCount(), 3);
    EXPECT_TRUE(LoadVaultSettings(folder.path()).gallery);

    // The tile of the selected movie shows its picture once it is read; a click on a tile
    // selects its item for every command.
    window->resize(1000, 700);
    window->show();
    const QRect tile = gallery->visualRect(window->itemModel().index(0, 0));
    QTest::mouseClick(gallery->viewport(), Qt::LeftButton, {},
                      gallery->visualRect(window->itemModel().index(1, 0)).center());
    EXPECT_EQ(window->selectedItemUrls(), QStringList{window->itemModel().urlAt(1)});
    QTest::mouseClick(gallery->viewport(), Qt::LeftButton, {}, tile.center());
    EXPECT_EQ(window->selectedItemUrls(), QStringList{QStringLiteral("http://a/kept.swf")});
    ASSERT_TRUE(waitUntil([&] {
        const QImage shown = gallery->viewport()->grab(tile).toImage();
        return shown.pixelColor(shown.width() / 2, shown.height() / 3) == QColor(Qt::red);
    })) << "the picture was read off the window thread and drawn";

    // Started again, the window shows the gallery, and the switch takes it back to the list.
    window.reset();
    start();
    auto* again = window->findChild<QListView*>(QStringLiteral("lvGallery"));
    EXPECT_TRUE(window->actions().action(MainActions::Gallery)->isChecked());
    EXPECT_TRUE(again->isVisibleTo(window.get()));
    window->actions().action(MainActions::Gallery)->trigger();
    EXPECT_TRUE(list()->isVisibleTo(window.get()));
    EXPECT_FALSE(LoadVaultSettings(folder.path()).gallery);
}

TEST_F(ViewTest, PicturesRemovedWhileTheProgramRunsAreDrawnAgain)
{
    // A stand-in for the picture helper: it answers each request with a picture drawn at once.
    const QString helper = path("helper.sh");
    ASSERT_TRUE(writeFile(helper, R"sh(#!/bin/sh
while IFS= read -r line; do
  file=$(printf '%s' "$line" | sed 's/.*"file":"\([^"]*\)".*/\1/')
  out=$(printf '%s' "$line" | sed 's/.*"out":"\([^"]*\)".*/\1/')
  printf 'picture' > "$out"
  printf '{"file":"%s","ok":true}\n' "$file"
done
)sh"));
    ASSERT_TRUE(QFile::setPermissions(helper, QFile::ReadOwner | QFile::ExeOwner));
    PictureKeeper keeper(app->catalogue(), helper);
    QSignalSpy made(&keeper, &PictureKeeper::pictureMade);
    keeper.gather();
    ASSERT_TRUE(waitUntil([&] { return made.size() == 1; })) << "kept.swf, the one file there";
    const QByteArray sha256 = made.front().front().toByteArray();
    ASSERT_EQ(LookUpPicture(sha256).kind, PictureEntry::Kind::Picture);

    ASSERT_TRUE(QDir(PicturesFolder()).removeRecursively());
    EXPECT_TRUE(waitUntil([&] {
        return LookUpPicture(sha256).kind == PictureEntry::Kind::Picture;
    })) << "the picture was not drawn again";
}

TEST_F(ViewTest, PreviewOffEmptiesThePlayerAndStopsFollowingTheSelection)
{
    auto* preview = window->findChild<QCheckBox*>(QStringLiteral("chk_preview"));
    preview->click();
    EXPECT_EQ(app->options().PreviewEnabled, 0);
    EXPECT_EQ(window->preview().player().movie(), QStringLiteral("no flash"));
    tree()->setCurrentIndex(window->treeModel().nodeAt(4));
    EXPECT_EQ(window->preview().player().movie(), QStringLiteral("no flash"));
}

TEST_F(ViewTest, CommandStatesFollowTheSelectionAndTheNode)
{
    EXPECT_TRUE(enabled(MainActions::StartDownAction)); // Downloading, first row selected
    EXPECT_FALSE(enabled(MainActions::PlayStandAlone));
    tree()->setCurrentIndex(window->treeModel().nodeAt(4));
    EXPECT_FALSE(enabled(MainActions::StartDownAction));
    for (MainActions::Id id : {MainActions::DeleteFlashItemAction, MainActions::UpdateItemProperty,
                               MainActions::ExploreItem, MainActions::PlayStandAlone})
        EXPECT_TRUE(enabled(id));
    list()->selectionModel()->clearSelection();
    window->UpdateSelectionState();
    EXPECT_FALSE(enabled(MainActions::DeleteFlashItemAction));
    EXPECT_FALSE(enabled(MainActions::PlayStandAlone));
}

TEST_F(ViewTest, DeleteMovesToDeletedThenOutOfTheCatalogueAndLeavesTheFile)
{
    tree()->setCurrentIndex(window->treeModel().nodeAt(4));
    selectRows({0});
    QTest::keyClick(list(), Qt::Key_Delete);
    EXPECT_EQ(app->catalogue()
                  .item(app->catalogue().FindItemByUrl(QStringLiteral("http://a/kept.swf")))
                  .state(),
              ItemState::Deleted);
    EXPECT_EQ(window->itemModel().rowCount(), 2);

    tree()->setCurrentIndex(window->treeModel().nodeAt(6)); // Deleted
    EXPECT_EQ(listedUrls(6), QStringList{"http://a/kept.swf"});
    window->actions().action(MainActions::DeleteFlashItemAction)->trigger();
    EXPECT_EQ(app->catalogue().FindItemByUrl(QStringLiteral("http://a/kept.swf")), -1);
    EXPECT_EQ(app->catalogue().itemCount(), 3);
    EXPECT_TRUE(QFile::exists(movieFile)) << "files on disk are never touched";
}

TEST_F(ViewTest, ClearEmptiesTheViewAndInsideDeletedTheCatalogue)
{
    tree()->setCurrentIndex(window->treeModel().nodeAt(4));
    window->actions().action(MainActions::ClearFlashItemAction)->trigger();
    EXPECT_EQ(window->itemModel().rowCount(), 0);
    EXPECT_EQ(listedUrls(6).size(), 3);
    window->actions().action(MainActions::ClearFlashItemAction)->trigger();
    EXPECT_EQ(window->itemModel().rowCount(), 0);
    EXPECT_EQ(app->catalogue().itemCount(), 1);
    EXPECT_EQ(FieldText(app->catalogue().item(0).Url), QStringLiteral("http://a/new.swf"));
}

TEST_F(ViewTest, DroppingRowsOnANodeRefilesThem)
{
    tree()->setCurrentIndex(window->treeModel().nodeAt(4)); // Game: three rows
    selectRows({0, 2});
    dropOn(5); // Fun
    EXPECT_EQ(window->itemModel().rowCount(), 1) << "the dropped rows leave the list";
    EXPECT_EQ(listedUrls(5), QStringList{"http://a/kept.swf"});
    EXPECT_EQ(app->catalogue().item(0).state(), ItemState::Downloaded);
    const int withoutFile = app->catalogue().FindItemByUrl(QStringLiteral("http://a/three.swf"));
    EXPECT_EQ(app->catalogue().item(withoutFile).state(), ItemState::New)
        << "an item whose file is not there is never marked downloaded";
    EXPECT_EQ(FieldText(app->catalogue().item(0).Folder),
              QDir(folder.path()).filePath(QStringLiteral("Game")) + u'/')
        << "the file stays where it was";

    selectRows({0});
    dropOn(6); // Deleted
    EXPECT_EQ(listedUrls(6), QStringList{"http://a/kept.swf"});
    EXPECT_EQ(app->catalogue().item(0).state(), ItemState::Deleted);
}

TEST_F(ViewTest, BrowseAndPlayStandAloneOpenFolderAndFile)
{
    desktop.defaults.insert(QStringLiteral("application/x-shockwave-flash"),
                            QStringLiteral("org.videolan.VLC.desktop"));
    tree()->setCurrentIndex(window->treeModel().nodeAt(2)); // Downloaded: empty
    tree()->setCurrentIndex(window->treeModel().nodeAt(4));
    window->actions().action(MainActions::ExploreItem)->trigger();
    window->actions().action(MainActions::PlayStandAlone)->trigger();
    EXPECT_EQ(
        desktop.opened,
        (QStringList{QDir(folder.path()).filePath(QStringLiteral("Game")) + u'/', movieFile}));

    selectRows({1}); // its folder and file do not exist: nothing is opened
    window->actions().action(MainActions::ExploreItem)->trigger();
    window->actions().action(MainActions::PlayStandAlone)->trigger();
    EXPECT_EQ(desktop.opened.size(), 2);
}

TEST_F(ViewTest, TheSnapshotIsAJpegOfThePlayersSize)
{
    window->resize(900, 700);
    window->show();
    tree()->setCurrentIndex(window->treeModel().nodeAt(4));
    const QString target = QDir(folder.path()).filePath(QStringLiteral("shot.jpg"));
    dialogs.snapshotFile = target;
    window->findChild<QToolButton*>(QStringLiteral("btnSaveFile"))->click();
    const QByteArray jpeg = readFile(target);
    ASSERT_FALSE(jpeg.isEmpty());
    int width = 0, height = 0, subsampling = 0, colours = 0;
    tjhandle decoder = tjInitDecompress();
    ASSERT_EQ(tjDecompressHeader3(decoder, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                                  static_cast<unsigned long>(jpeg.size()), &width, &height,
                                  &subsampling, &colours),
              0);
    tjDestroy(decoder);
    EXPECT_EQ(width, window->preview().player().width());
    EXPECT_EQ(height, window->preview().player().height());
}

TEST(JpegWriter, WritesAValidJpegAndRefusesNothing)
{
    QTemporaryDir folder;
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 40));
    const QString path = QDir(folder.path()).filePath(QStringLiteral("red.jpg"));
    ASSERT_TRUE(SaveJpeg(image, path));
    const QImage back(path);
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.size(), image.size());
    const QColor centre = back.pixelColor(32, 24);
    EXPECT_NEAR(centre.red(), 200, 6);
    EXPECT_NEAR(centre.green(), 40, 6);
    EXPECT_NEAR(centre.blue(), 40, 6);
    QString error;
    EXPECT_FALSE(SaveJpeg(QImage(), path, 90, &error));
    EXPECT_FALSE(error.isEmpty());
}
