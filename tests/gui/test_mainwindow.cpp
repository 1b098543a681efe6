#include "mainwindowfixture.h"

#include "categorytreemodel.h"
#include "icons.h"
#include "itemlistmodel.h"
#include "mainactions.h"
#include "messageboxprompt.h"
#include "modaldialog.h"
#include "windowfocus.h"
#include "testserver.h"
#include "traycontroller.h"
#include "waituntil.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QSplitter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray catalogueLog()
{
    return logHeaderBytes("clipvault", 7) +
           itemBytes('N', "http://a/new.swf", "Downloaded", "/m/", "new.swf") +
           itemBytes('D', "http://a/game1.swf", " GAME ", "/m/Game/", "game1.swf") +
           itemBytes('X', "http://a/gone.swf", "Fun", "/m/Fun/", "gone.swf") +
           itemBytes('P', "http://a/later.swf", "Mtv", "/m/Mtv/", "later.swf") +
           itemBytes('D', "http://a/top.swf", "Downloaded", "/m/", "top.swf") +
           itemBytes('F', "http://a/failed.swf", "Fun", "/m/Fun/", "failed.swf") +
           itemBytes('D', "http://a/game2.swf", "game", "/m/Game/", "game2.swf");
}

bool sameImage(const QIcon& a, const QIcon& b)
{
    return a.pixmap(16, 16).toImage() == b.pixmap(16, 16).toImage();
}

} // namespace

TEST_F(MainWindowTest, FirstRunShowsTheFixedTreeAndWritesBothLogsOnClose)
{
    start();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Clip Vault"));
    EXPECT_EQ(nodeTexts(), (QStringList{"ClipVault", "Downloading", "Downloaded", "Mtv", "Game",
                                        "Fun", "Deleted"}));
    EXPECT_EQ(tree()->currentIndex(), window->treeModel().downloadingNode());
    EXPECT_TRUE(tree()->isExpanded(window->treeModel().rootNode()));
    EXPECT_TRUE(tree()->isExpanded(window->treeModel().downloadedNode()));
    EXPECT_EQ(window->itemModel().rowCount(), 0);
    EXPECT_TRUE(hotKey.isRegistered());

    window->show();
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(hotKey.isRegistered());
    EXPECT_EQ(readFile(path("downloading.log")), logHeaderBytes("clipvault", 0));
    const QByteArray categories = readFile(path("category.log"));
    EXPECT_EQ(categories.size(), 16 + 6 * 144);
    EXPECT_EQ(categories.mid(16 + 12, 4), QByteArray("Mtv\0", 4));
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(MainWindowTest, EachNodeListsItsItemsInCatalogueOrder)
{
    ASSERT_TRUE(writeFile(path("downloading.log"), catalogueLog()));
    start();
    EXPECT_EQ(listedUrls(1),
              (QStringList{"http://a/new.swf", "http://a/later.swf", "http://a/failed.swf"}));
    EXPECT_EQ(listedUrls(2), QStringList{"http://a/top.swf"});
    EXPECT_EQ(listedUrls(4), (QStringList{"http://a/game1.swf", "http://a/game2.swf"}))
        << "a category lists its items whatever the case and blanks of their Category";
    EXPECT_EQ(listedUrls(6), QStringList{"http://a/gone.swf"});
    EXPECT_TRUE(listedUrls(0).isEmpty()) << "the root lists nothing in a normal catalogue";

    // After a fill the first row is selected.
    listedUrls(4);
    const QModelIndexList selected = list()->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0].row(), 0);
}

TEST_F(MainWindowTest, AtStartUpTheFirstDownloadThatHasNotFailedIsSelected)
{
    ASSERT_TRUE(writeFile(path("downloading.log"),
                          logHeaderBytes("clipvault", 3) +
                              itemBytes('F', "http://a/f1.swf", "Fun", "/m/Fun/", "f1.swf") +
                              itemBytes('F', "http://a/f2.swf", "Fun", "/m/Fun/", "f2.swf") +
                              itemBytes('N', "http://a/new.swf", "Fun", "/m/Fun/", "new.swf")));
    start();
    EXPECT_EQ(window->selectedItemUrl(), QStringLiteral("http://a/new.swf"));
    listedUrls(4);
    listedUrls(1);
    EXPECT_EQ(window->selectedItemUrl(), QStringLiteral("http://a/f1.swf"))
        << "later the list's first row is selected, as always";
}

TEST_F(MainWindowTest, ItemListShowsItsColumnsAndAnImagePerState)
{
    ASSERT_TRUE(writeFile(path("downloading.log"), catalogueLog()));
    start();
    const ItemListModel& model = window->itemModel();
    QStringList captions;
    QList<int> widths;
    for (int column = 0; column < model.columnCount(); ++column) {
        captions << model.headerData(column, Qt::Horizontal).toString();
        widths << list()->header()->sectionSize(column);
    }
    EXPECT_EQ(captions, (QStringList{"  Filename", "Category", "Comments", "Source Url"}));
    EXPECT_EQ(widths, (QList<int>{150, 100, 355, 200}));

    listedUrls(1); // new (N), later (P), failed (F)
    EXPECT_EQ(model.index(0, 0).data().toString(), QStringLiteral("new.swf"));
    EXPECT_EQ(model.index(1, 1).data().toString(), QStringLiteral("Mtv"));
    EXPECT_EQ(model.index(2, 3).data().toString(), QStringLiteral("http://a/failed.swf"));
    const auto image = [&](int row) {
        return model.index(row, 0).data(Qt::DecorationRole).value<QIcon>();
    };
    EXPECT_TRUE(sameImage(image(0), Icons::itemImage(ItemState::New)));
    EXPECT_TRUE(sameImage(image(1), Icons::itemImage(ItemState::Pending)));
    EXPECT_TRUE(sameImage(image(2), Icons::itemImage(ItemState::Failed)));
    EXPECT_TRUE(
        sameImage(Icons::itemImage(ItemState::Failed), Icons::itemImage(ItemState::Deleted)));
    EXPECT_FALSE(
        sameImage(Icons::itemImage(ItemState::New), Icons::itemImage(ItemState::Downloaded)));
}

TEST_F(MainWindowTest, ModelsStayConsistentThroughRefreshes)
{
    ASSERT_TRUE(writeFile(path("downloading.log"), catalogueLog()));
    start();
    QAbstractItemModelTester itemTester(&window->itemModel(),
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester treeTester(&window->treeModel(),
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
    for (int node = 0; node < window->treeModel().nodeCount(); ++node)
        listedUrls(node);
    // The tree follows the categories by itself.
    app->catalogue().AddCategory(CategoryNamed(QStringLiteral("Cartoons")));
    EXPECT_EQ(nodeTexts().at(6), QStringLiteral("Cartoons"));
    app->catalogue().RemoveCategory(QStringLiteral("Mtv"));
    EXPECT_EQ(nodeTexts(), (QStringList{"ClipVault", "Downloading", "Downloaded", "Game", "Fun",
                                        "Cartoons", "Deleted"}));
    EXPECT_TRUE(window->itemModel().removeRows(0, 1));
    window->RefreshItemList();
}

TEST_F(MainWindowTest, TheListFollowsTheCatalogueRowByRow)
{
    ASSERT_TRUE(writeFile(path("downloading.log"), catalogueLog()));
    start();
    QAbstractItemModelTester tester(&window->itemModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    Catalogue& catalogue = app->catalogue();
    ASSERT_EQ(listedUrls(1),
              (QStringList{"http://a/new.swf", "http://a/later.swf", "http://a/failed.swf"}));
    QSignalSpy resets(&window->itemModel(), &QAbstractItemModel::modelReset);
    const auto shown = [&] {
        QStringList urls;
        for (int row = 0; row < window->itemModel().rowCount(); ++row)
            urls << window->itemModel().urlAt(row);
        return urls;
    };

    // A settled download leaves "Downloading"; one that fails again comes back.
    catalogue.SetItemState(catalogue.FindItemByUrl(QStringLiteral("http://a/later.swf")),
                           ItemState::Downloaded);
    EXPECT_EQ(shown(), (QStringList{"http://a/new.swf", "http://a/failed.swf"}));
    catalogue.SetItemState(catalogue.FindItemByUrl(QStringLiteral("http://a/later.swf")),
                           ItemState::Failed);
    EXPECT_EQ(shown(),
              (QStringList{"http://a/new.swf", "http://a/later.swf", "http://a/failed.swf"}));

    // Items removed before and between the rows move the rest up; each row keeps its item.
    catalogue.RemoveItemsByUrl({QStringLiteral("http://a/game1.swf"),
                                QStringLiteral("http://a/new.swf"),
                                QStringLiteral("http://a/top.swf")});
    EXPECT_EQ(shown(), (QStringList{"http://a/later.swf", "http://a/failed.swf"}));
    EXPECT_EQ(window->itemModel().index(1, 0).data().toString(), QStringLiteral("failed.swf"));

    // A new item comes in at the end, one filed elsewhere does not.
    catalogue.AddItemFromUrl(QStringLiteral("http://a/added.swf"), {});
    ItemRecord elsewhere =
        catalogue.item(catalogue.FindItemByUrl(QStringLiteral("http://a/failed.swf")));
    elsewhere.State = static_cast<char>(ItemState::Deleted);
    catalogue.updateItem(catalogue.FindItemByUrl(QStringLiteral("http://a/failed.swf")), elsewhere);
    EXPECT_EQ(shown(), (QStringList{"http://a/later.swf", "http://a/added.swf"}));
    EXPECT_EQ(resets.count(), 0) << "no change refilled the whole list";
}

TEST_F(MainWindowTest, AddingAnItemRefreshesTheListedNode)
{
    start();
    EXPECT_GE(app->catalogue().AddItemFromUrl(QStringLiteral("http://a/x.swf"), {}), 0);
    EXPECT_EQ(window->itemModel().rowCount(), 1) << "the Downloading node shows the new item";
}

TEST_F(MainWindowTest, AFailedSaveAtCloseKeepsTheProgramRunning)
{
    start();
    window->show();
    for (int i = 0; i < 10; ++i)
        app->catalogue().AddItemFromUrl(QStringLiteral("http://a/%1.swf").arg(i), {});
    {
        FileSizeLimit diskFull(1000);
        EXPECT_FALSE(window->close());
    }
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text,
              QStringLiteral("Cannot create file ") + path("downloading.log"));
    EXPECT_TRUE(hotKey.isRegistered()) << "F7 works again after the failed close";
    EXPECT_EQ(app->catalogue().itemCount(), 10);

    EXPECT_TRUE(window->close());
    EXPECT_EQ(readFile(path("downloading.log")).size(), 16 + 10 * 636);
}

TEST_F(MainWindowTest, HotKeyAndTrayToggleTheWindow)
{
    start();
    window->showAtStart();
    EXPECT_TRUE(window->isShownState());
    EXPECT_TRUE(window->isMaximized());
    const QRect screen = window->screen()->availableGeometry();
    EXPECT_LE((window->normalGeometry().center() - screen.center()).manhattanLength(), 2)
        << "centred on the screen under the maximized state";
    hotKey.press();
    EXPECT_FALSE(window->isShownState());
    hotKey.press();
    EXPECT_TRUE(window->isShownState());
    EXPECT_TRUE(window->isMaximized()) << "the window comes back as it was";

    emit window->tray().toggleRequested();
    EXPECT_FALSE(window->isShownState());
    window->tray().menu()->findChild<QAction*>(QStringLiteral("ShowWindow1"))->trigger();
    EXPECT_TRUE(window->isShownState());
}

TEST_F(MainWindowTest, AKeyTheDesktopWillNotLendIsToldOnceAcrossStarts)
{
    start();
    emit hotKey.unavailable(QStringLiteral("the shortcut was declined"));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_TRUE(prompt.messages[0].text.contains(u"the shortcut was declined"));
    // The next start hears the same again: nothing more is said. Another reason is told.
    window.reset();
    start();
    emit hotKey.unavailable(QStringLiteral("the shortcut was declined"));
    EXPECT_EQ(prompt.messages.size(), 1u);
    emit hotKey.unavailable(QStringLiteral("the desktop has no global shortcuts portal"));
    EXPECT_EQ(prompt.messages.size(), 2u);
}

TEST_F(MainWindowTest, TrayIconHasItsHintAndMenu)
{
    start();
    const TrayController& tray = window->tray();
    EXPECT_EQ(tray.icon()->toolTip(), QStringLiteral("Press F7 to Show/Hide MainForm"));
    QStringList entries;
    for (QAction* action : tray.menu()->actions())
        entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(entries,
              (QStringList{"Show/Hide Clip Vault (F7)", "Find in Current IE Window",
                           "Detect from Cache", "Detect from the browser tab", "-",
                           "Enable Shortcut Bar", "Show Hanging Window", "Options", "-", "&Exit"}));
    EXPECT_TRUE(window->actions().action(MainActions::ShowVaultBar1)->isCheckable());
    EXPECT_TRUE(window->actions().action(MainActions::ShowMiniWin1)->isCheckable());
}

TEST_F(MainWindowTest, ExitFromTheTrayMenuClosesAHiddenWindowAndSaves)
{
    start();
    QSignalSpy closed(window.get(), &TClipVaultMain::closed);
    window->showAtStart();
    window->ToggleMainWindow();
    for (QAction* action : window->tray().menu()->actions()) {
        if (action->objectName() == QLatin1String("ExitAction"))
            action->trigger();
    }
    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(QFile::exists(path("downloading.log")));
    EXPECT_TRUE(QFile::exists(path("category.log")));
}

TEST_F(MainWindowTest, StartsInTheTrayWhenAskedTo)
{
    options.StartMinimized = 1;
    ASSERT_TRUE(SaveOptions(path("clipvault.opt"), options));
    options = DefaultOptions(); // the window must read the file, not this record
    start();
    EXPECT_EQ(app->options().StartMinimized, 1);
    window->showAtStart();
    EXPECT_FALSE(window->isShownState());
    hotKey.press();
    EXPECT_TRUE(window->isShownState());
}

TEST_F(MainWindowTest, UnreadableFilesAreReportedOnceAfterStartUp)
{
    QByteArray log = catalogueLog();
    log.chop(100);
    ASSERT_TRUE(writeFile(path("downloading.log"), log));
    ASSERT_TRUE(writeFile(path("clipvault.opt"), QByteArray("\0\0\1", 3)));
    start();
    EXPECT_EQ(app->catalogue().itemCount(), 6);
    EXPECT_TRUE(prompt.messages.empty()) << "nothing is said before the window is up";
    window->showStartupNotice();
    window->showStartupNotice();
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_TRUE(prompt.messages[0].text.contains(QStringLiteral("downloading.log")));
    EXPECT_TRUE(prompt.messages[0].text.contains(QStringLiteral("clipvault.opt")));
    EXPECT_EQ(app->options().PauseMovieOnBar, 1);
    EXPECT_EQ(app->options().AutoStart, 0) << "bytes the short file lacks are off";

    EXPECT_TRUE(window->close());
    EXPECT_EQ(readFile(UnreadableCopyPath(path("downloading.log"))), log);
}

TEST_F(MainWindowTest, PreviewCheckBoxFollowsAndSetsTheOption)
{
    options.PreviewEnabled = 0;
    ASSERT_TRUE(SaveOptions(path("clipvault.opt"), options));
    start();
    auto* preview = window->findChild<QCheckBox*>(QStringLiteral("chk_preview"));
    ASSERT_NE(preview, nullptr);
    EXPECT_FALSE(preview->isChecked());
    preview->click();
    EXPECT_EQ(app->options().PreviewEnabled, 1);
    EXPECT_EQ(readFile(path("clipvault.opt")).at(10), '\0')
        << "not written until the next options save";
}

TEST_F(MainWindowTest, ClosingDuringADownloadSavesTheLogsAndEndsTheTransfer)
{
    TestServer server;
    std::atomic<bool> asked{false};
    server.server().Get("/hung.swf", [&](const httplib::Request&, httplib::Response& response) {
        asked = true;
        response.set_chunked_content_provider("application/x-shockwave-flash",
                                              [&](size_t, httplib::DataSink&) {
                                                  server.holdWhileStalling();
                                                  return false;
                                              });
    });
    server.start();
    start();
    window->show();
    const QString url = QString::fromStdString(server.url("/hung.swf"));
    ASSERT_GE(app->catalogue().AddItemFromUrl(url, {}), 0);
    app->downloads().StartItemDownload(url);
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked.load(); }, 60000))
        << "the server never saw the request";

    EXPECT_TRUE(window->close()) << "the window closes while the transfer hangs";
    EXPECT_EQ(readFile(path("downloading.log")).size(), 16 + 636)
        << "the logs were written at once";
    // The program then ends: its transfer is cancelled, not waited for (the stall time-out is a
    // minute, and this server never lets go on its own).
    QElapsedTimer clock;
    clock.start();
    window.reset();
    app.reset();
    EXPECT_LT(clock.elapsed(), 30000);
}

TEST_F(MainWindowTest, AnItemFiledAndDownloadedIsOnDiskWhileTheProgramRuns)
{
    // What a kill, a crash or the display server going away would find: no close, no exit save.
    TestServer server;
    server.server().Get("/m.swf", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("FWS\x0a movie", "application/x-shockwave-flash");
    });
    server.start();
    start();
    window->show();
    const QString url = QString::fromStdString(server.url("/m.swf"));
    const QString other = QStringLiteral("http://a.example/filed.swf");
    ASSERT_GE(app->catalogue().AddItemFromUrl(other, {}), 0);
    ASSERT_GE(app->catalogue().AddItemFromUrl(url, {}), 0);
    app->downloads().StartItemDownload(url);
    const auto onDisk = [&](const QString& address) {
        Catalogue again(prompt, options);
        CatalogueStore(folder.path()).LoadItems(again);
        const int index = again.FindItemByUrl(address);
        return index < 0 ? ItemState::New : again.item(index).state();
    };
    EXPECT_TRUE(waitUntil([&] { return onDisk(url) == ItemState::Downloaded; }, 60000));
    Catalogue again(prompt, options);
    CatalogueStore(folder.path()).LoadItems(again);
    EXPECT_GE(again.FindItemByUrl(other), 0);
}

TEST_F(MainWindowTest, LongCategoryNamesAndBoxTitlesShowWhole)
{
    start();
    window->resize(1200, 800);
    window->show();
    const QString name = QStringLiteral("Cartoons Classics of the Late Nineties");
    ASSERT_TRUE(app->catalogue().AddCategory(CategoryNamed(name)));
    const int nameWidth = tree()->fontMetrics().horizontalAdvance(name);
    EXPECT_TRUE(waitUntil([&] { return tree()->columnWidth(0) > nameWidth; }))
        << "the name is cut in its column";
    auto* panes = window->findChild<QSplitter*>(QStringLiteral("splitterTree"));
    ASSERT_NE(panes, nullptr);
    EXPECT_GT(panes->sizes().first(), nameWidth) << "the pane grew to show it";

    // A box is at least as wide as its title, which the window manager would cut otherwise.
    MessageBoxPrompt boxes;
    const QString caption = QStringLiteral("Detect from Webpage");
    boxes.notify(QStringLiteral("Not Found"), caption);
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        for (QWidget* shown : QApplication::topLevelWidgets())
            if (auto* candidate = qobject_cast<QMessageBox*>(shown);
                candidate && shown->isVisible())
                box = candidate;
        return box != nullptr;
    }));
    EXPECT_GT(box->width(), box->fontMetrics().horizontalAdvance(caption) + 100);
    box->close();
}

TEST_F(MainWindowTest, TheCategoryPaneShowsTheNamesWholeAndKeepsTheWidthGivenIt)
{
    start();
    window->showMaximized();
    auto* panes = window->findChild<QSplitter*>(QStringLiteral("splitterTree"));
    ASSERT_NE(panes, nullptr);
    const int nameWidth = tree()->fontMetrics().horizontalAdvance(QStringLiteral("Downloading"));
    ASSERT_TRUE(waitUntil([&] { return window->isVisible(); }));
    EXPECT_GT(panes->sizes().first(), nameWidth + 16) << "room for the icon and the name";

    // The user widens it, and makes the list (or gallery) taller; the next start shows them so.
    const std::pair<const char*, int> given[] = {{"splitterTree", 321}, {"splitterList", 402}};
    for (const auto& [name, size] : given) {
        auto* splitter = window->findChild<QSplitter*>(QLatin1String(name));
        QList<int> sizes = splitter->sizes();
        sizes[1] -= size - sizes[0];
        sizes[0] = size;
        splitter->setSizes(sizes);
        emit splitter->splitterMoved(size, 1);
    }
    ASSERT_TRUE(window->close());
    start();
    window->showMaximized();
    ASSERT_TRUE(waitUntil([&] { return window->isVisible(); }));
    for (const auto& [name, size] : given)
        EXPECT_EQ(window->findChild<QSplitter*>(QLatin1String(name))->sizes().first(), size)
            << name;
}

TEST_F(MainWindowTest, AQuestionAskedWhileTheUserIsInAnotherProgramComesUpAloneOverIt)
{
    start();
    window->show();
    struct InAnotherProgram final : WindowFocus
    {
        quint32 foreignActiveWindow() override { return 42; }
        void activate(quint32) override {}
    } browserHasTheKeyboard;
    MessageBoxPrompt boxes(window.get());
    boxes.setWindowFocus(&browserHasTheKeyboard);
    bool alone = false;
    bool onTop = false;
    onNextModal([&](QDialog& box) {
        alone = box.parentWidget() == nullptr;
        onTop = box.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        box.reject();
    });
    boxes.ask(QStringLiteral("Download it again?"), QStringLiteral("Confirm"));
    EXPECT_TRUE(alone) << "the main window is not brought along";
    EXPECT_TRUE(onTop);

    NoWindowFocus ours; // the user is in Clip Vault: the box belongs to its window
    boxes.setWindowFocus(&ours);
    onNextModal([&](QDialog& box) {
        alone = box.parentWidget() == nullptr;
        box.reject();
    });
    boxes.ask(QStringLiteral("Download it again?"), QStringLiteral("Confirm"));
    EXPECT_FALSE(alone);
}
