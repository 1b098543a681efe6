#include "mainwindowfixture.h"
#include "modaldialog.h"

#include "addtaskfromurl.h"
#include "categorymanage.h"
#include "downloadflow.h"
#include "mainactions.h"
#include "maincommands.h"
#include "testserver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>

#include <functional>

namespace {

/// Fills the modal dialog that opens next and presses OK.
void whenModalOpens(std::function<void(QDialog&)> fill)
{
    onNextModal([fill = std::move(fill)](QDialog& dialog) {
        fill(dialog);
        dialog.findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
    });
}

class CommandTest : public MainWindowTest
{
protected:
    void trigger(MainActions::Id id) { window->actions().action(id)->trigger(); }
    bool enabled(MainActions::Id id) { return window->actions().action(id)->isEnabled(); }
};

} // namespace

TEST_F(CommandTest, AManualTaskWaitsUnderDownloadingAndDownloadsOnCommand)
{
    TestServer server;
    server.server().Get("/movie.swf", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("FWS", "application/x-shockwave-flash");
    });
    server.start();
    const QString url = QString::fromStdString(server.url("/movie.swf"));
    start();
    changeOptions([](OptionsRecord& changed) { changed.NotifyTaskAdded = 1; });

    whenModalOpens([&](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("edtUrl"))->setText(url);
        auto* category = dialog.findChild<QComboBox*>(QStringLiteral("cmbCategory"));
        category->setCurrentIndex(category->findText(QStringLiteral("Fun")));
        emit category->activated(category->currentIndex());
        dialog.findChild<QRadioButton*>(QStringLiteral("rdo_manually"))->setChecked(true);
    });
    trigger(MainActions::AddFlashItemAction);
    ASSERT_EQ(app->catalogue().itemCount(), 1);
    EXPECT_EQ(app->catalogue().item(0).state(), ItemState::Pending);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, url + QStringLiteral(" added!"));
    EXPECT_EQ(window->itemModel().rowCount(), 1);
    EXPECT_EQ(window->selectedItemUrl(), url);
    EXPECT_TRUE(enabled(MainActions::StartDownAction));
    EXPECT_TRUE(enabled(MainActions::UpdateItemProperty));

    const QString fun = DefaultSaveFolder() + QStringLiteral("Fun/movie.swf");
    QSignalSpy finished(&app->downloads(), &DownloadFlow::finished);
    trigger(MainActions::StartDownAction);
    ASSERT_TRUE(finished.wait(60000)) << "the download never ended";
    EXPECT_EQ(app->catalogue().item(0).state(), ItemState::Downloaded);
    EXPECT_EQ(readFile(fun), QByteArray("FWS"));
    EXPECT_EQ(window->itemModel().rowCount(), 0) << "the finished item left the Downloading view";
    EXPECT_FALSE(enabled(MainActions::StartDownAction));
}

TEST_F(CommandTest, LongValuesSurviveAddDownloadCloseAndTheCommandLine)
{
    TestServer server;
    QStringList served;
    server.server().Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
        served << QString::fromStdString(request.path);
        response.set_content("FWS long", "application/x-shockwave-flash");
    });
    server.start();
    const QString path = QStringLiteral("/web/20070315000000/http://www.example-cartoons.com/") +
                         QString(2000, u'e') + QStringLiteral(".swf");
    const QString url = QString::fromStdString(server.url(path.toStdString()));
    const QString category = QString(200, u'c');
    const QString categoryFolder = QDir(folder.path()).filePath(QString(200, u'f')) + u'/';
    // A save-as name longer than a file name may be is a full path.
    const QString saveAs =
        QDir(folder.path())
            .filePath(QString(150, u'd') + u'/' + QString(150, u'n') + QStringLiteral(".swf"));
    ASSERT_GT(saveAs.size(), 300);
    start();
    CategoryRecord record = CategoryNamed(category);
    SetFieldText(record.Folder, categoryFolder);
    ASSERT_TRUE(app->catalogue().AddCategory(record));

    QSignalSpy finished(&app->downloads(), &DownloadFlow::finished);
    whenModalOpens([&](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("edtUrl"))->setText(url);
        auto* box = dialog.findChild<QComboBox*>(QStringLiteral("cmbCategory"));
        box->setCurrentIndex(box->findText(category));
        emit box->activated(box->currentIndex());
        EXPECT_EQ(dialog.findChild<QComboBox*>(QStringLiteral("cmbSavePath"))->currentText(),
                  categoryFolder);
        dialog.findChild<QLineEdit*>(QStringLiteral("edtSaveFileName"))->setText(saveAs);
    });
    trigger(MainActions::AddFlashItemAction);
    ASSERT_TRUE(finished.wait(60000)) << "the download never ended";
    ASSERT_EQ(served, QStringList{path}) << "the whole address was asked for";
    EXPECT_EQ(readFile(saveAs), QByteArray("FWS long"));
    ASSERT_TRUE(window->close());

    QProcess cli;
    cli.start(QStringLiteral(CLIPVAULT_CLI),
              {"catalogue", "list", "--json", "--data-dir", folder.path()});
    ASSERT_TRUE(cli.waitForFinished(60000));
    const QJsonArray items = QJsonDocument::fromJson(cli.readAllStandardOutput()).array();
    ASSERT_EQ(items.size(), 1) << qPrintable(cli.readAllStandardError());
    const QJsonObject item = items[0].toObject();
    EXPECT_EQ(item[QStringLiteral("url")].toString(), url);
    EXPECT_EQ(item[QStringLiteral("category")].toString(), category);
    EXPECT_EQ(item[QStringLiteral("folder")].toString(), categoryFolder);
    EXPECT_EQ(item[QStringLiteral("fileName")].toString(), saveAs);
    EXPECT_EQ(item[QStringLiteral("state")].toString(), QStringLiteral("D"));
}

TEST_F(CommandTest, DecliningToDownloadACataloguedAddressAgainAddsAndSaysNothing)
{
    const QString url = QStringLiteral("http://a/wait.swf");
    ASSERT_TRUE(writeFile(path("downloading.log"),
                          logHeaderBytes("clipvault", 1) +
                              itemBytes('P', "http://a/wait.swf", "Game", "/m/", "wait.swf")));
    start();
    changeOptions([](OptionsRecord& changed) { changed.NotifyTaskAdded = 1; });
    prompt.answer({false});
    whenModalOpens([&](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("edtUrl"))->setText(url);
        dialog.findChild<QRadioButton*>(QStringLiteral("rdo_manually"))->setChecked(true);
    });
    trigger(MainActions::AddFlashItemAction);
    ASSERT_EQ(prompt.questions.size(), 1u) << "the duplicate question was asked";
    EXPECT_EQ(app->catalogue().itemCount(), 1);
    EXPECT_TRUE(prompt.messages.empty()) << "no \"added!\" for what was not added";
}

TEST_F(CommandTest, DownloadIsOfferedOnlyInTheDownloadingView)
{
    ASSERT_TRUE(writeFile(path("downloading.log"),
                          logHeaderBytes("clipvault", 2) +
                              itemBytes('D', "http://a/done.swf", "Game", "/m/", "done.swf") +
                              itemBytes('P', "http://a/wait.swf", "Game", "/m/", "wait.swf")));
    start();
    EXPECT_TRUE(enabled(MainActions::StartDownAction));
    tree()->setCurrentIndex(window->treeModel().nodeAt(4)); // Game
    EXPECT_FALSE(enabled(MainActions::StartDownAction));
    EXPECT_TRUE(enabled(MainActions::UpdateItemProperty));
    tree()->setCurrentIndex(window->treeModel().nodeAt(6)); // Deleted: empty
    EXPECT_FALSE(enabled(MainActions::UpdateItemProperty));
}

TEST_F(CommandTest, PropertiesEditTheSelectedItemInPlace)
{
    ASSERT_TRUE(writeFile(path("downloading.log"),
                          logHeaderBytes("clipvault", 1) +
                              itemBytes('P', "http://a/wait.swf", "Game", "/m/", "wait.swf")));
    start();
    whenModalOpens([](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Properties"));
        dialog.findChild<QLineEdit*>(QStringLiteral("edtSaveFileName"))
            ->setText(QStringLiteral("renamed.swf"));
    });
    trigger(MainActions::UpdateItemProperty);
    EXPECT_EQ(FieldText(app->catalogue().item(0).FileName), QStringLiteral("renamed.swf"));
    EXPECT_EQ(app->catalogue().item(0).state(), ItemState::Pending);
    EXPECT_EQ(window->itemModel().index(0, 0).data().toString(), QStringLiteral("renamed.swf"));
}

TEST_F(CommandTest, CategoriesAreAddedEditedAndDeleted)
{
    start();
    const QString cartoons = QDir(folder.path()).filePath(QStringLiteral("Cartoons"));
    whenModalOpens([&](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("edtcatname"))
            ->setText(QStringLiteral("Cartoons"));
        dialog.findChild<QLineEdit*>(QStringLiteral("edtcatpath"))->setText(cartoons);
    });
    trigger(MainActions::AddCategoryAction);
    EXPECT_EQ(nodeTexts().at(6), QStringLiteral("Cartoons"));
    EXPECT_TRUE(QFileInfo(cartoons).isDir());

    tree()->setCurrentIndex(window->treeModel().nodeAt(6));
    whenModalOpens([](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("edtcatname"))
            ->setText(QStringLiteral("Toons"));
    });
    trigger(MainActions::UpdateCatProperty);
    EXPECT_EQ(nodeTexts().at(6), QStringLiteral("Toons"));
    const int index = app->catalogue().FindCategory(QStringLiteral("toons"));
    ASSERT_GE(index, 0);
    EXPECT_EQ(FieldText(app->catalogue().category(index).Folder),
              DefaultSaveFolder() + QStringLiteral("Toons/"));

    tree()->setCurrentIndex(window->treeModel().nodeAt(6));
    trigger(MainActions::DeleteCategoryAction);
    EXPECT_EQ(app->catalogue().FindCategory(QStringLiteral("toons")), -1);
    EXPECT_EQ(nodeTexts().size(), 7);

    tree()->setCurrentIndex(window->treeModel().nodeAt(2)); // Downloaded: built in
    trigger(MainActions::DeleteCategoryAction);
    EXPECT_GE(app->catalogue().FindCategory(QStringLiteral("Downloaded")), 0);
}

TEST_F(CommandTest, EveryMenuAndTheToolBarOfferTheirEntriesInOrder)
{
    start();
    const std::pair<const char*, QStringList> places[] = {
        {"popitem",
         {"Add a Flash Item", "Delete this Flash Item", "Clear Flash Items", "Download",
          "Play stand-alone", "Property", "-", "Export…"}},
        {"poptreeview", {"Add a New Category", "Delete This Category", "-", "Property"}},
        {"menuTask",
         {"Add Task from a URL", "Detect from a URL", "Detect from Cache",
          "Detect from the browser tab", "Detect from the web archive", "Import movies…", "-",
          "Download", "-", "&Exit"}},
        {"menuTools",
         {"Simple Flash Player", "-", "search for ...", "Gallery", "-", "Options", "-",
          "Connect your browser…", "Open a browser for Clip Vault"}},
        {"menuHelp", {"Help manual", "-", "About"}},
        {"ToolBar1",
         {"Add a task", "Detect from webpage", "Detect from cache", "-", "Properties",
          "Browse its folder", "Download this Item", "Delete", "-", "Search in Download Log",
          "Gallery", "Options", "Exit"}},
    };
    for (const auto& [name, expected] : places) {
        auto* place = window->findChild<QWidget*>(QLatin1String(name));
        ASSERT_NE(place, nullptr) << name;
        QStringList captions;
        for (QAction* entry : place->actions())
            captions << (entry->isSeparator() ? QStringLiteral("-") : entry->text());
        EXPECT_EQ(captions, expected) << name;
    }
}

TEST_F(CommandTest, AnEntryWithACaptionOfItsOwnFollowsItsCommand)
{
    start();
    auto* itemMenu = window->findChild<QMenu*>(QStringLiteral("popitem"));
    ASSERT_NE(itemMenu, nullptr);
    window->actions().action(MainActions::UpdateItemProperty)->setEnabled(false);
    EXPECT_FALSE(itemMenu->actions().at(5)->isEnabled());
    window->actions().action(MainActions::UpdateItemProperty)->setEnabled(true);
    EXPECT_TRUE(itemMenu->actions().at(5)->isEnabled());
}

TEST_F(CommandTest, OpenABrowserOffersTheInstalledOnesAndStartsOneWithItsOwnProfile)
{
    start();
    // What is installed, each browser once (one may be installed under two names).
    QStringList offered;
    QStringList seen;
    for (const MainCommands::BrowserChoice& candidate : MainCommands::browserCandidates()) {
        const QString program = QStandardPaths::findExecutable(candidate.program);
        const QString canonical = QFileInfo(program).canonicalFilePath();
        if (!program.isEmpty() && !seen.contains(canonical)) {
            seen << canonical;
            offered << QFileInfo(program).fileName();
        }
    }
    if (offered.isEmpty()) {
        trigger(MainActions::OpenBrowser);
        EXPECT_EQ(prompt.messages.size(), 1u);
        EXPECT_TRUE(desktop.started.empty());
        return;
    }
    // Each browser installed, as the user picks it from those offered.
    for (const QString& pick : offered) {
        desktop.started.clear();
        if (offered.size() > 1) {
            onNextModal([&](QDialog& dialog) {
                auto* box = dialog.findChild<QComboBox*>();
                ASSERT_NE(box, nullptr);
                box->setCurrentIndex(box->findText(pick));
                dialog.accept();
            });
        }
        trigger(MainActions::OpenBrowser);
        ASSERT_EQ(desktop.started.size(), 1u) << qPrintable(pick);
        const auto& [program, arguments] = desktop.started.front();
        if (pick.startsWith(u"firefox")) {
            EXPECT_EQ(arguments, (QStringList{"--remote-debugging-port", "0", "--profile",
                                              path("firefox-profile"), "--no-remote"}));
        } else {
            EXPECT_EQ(arguments, (QStringList{"--remote-debugging-port=0",
                                              "--user-data-dir=" + path("browser-profile")}));
        }
        EXPECT_EQ(QFileInfo(program).fileName(), pick);
    }
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(CommandTest, ConnectYourBrowserTellsWhatIsConnectedAndWhatToDoForEachBrowser)
{
    browser.companions = [] {
        return QStringList{QStringLiteral("chromium 156.0")};
    };
    start();
    QString connected;
    QString advice;
    QString manifests;
    onNextModal([&](QDialog& dialog) {
        connected = dialog.findChild<QLabel*>(QStringLiteral("lblConnected"))->text();
        advice = dialog.findChild<QLabel*>(QStringLiteral("lblBrowsers"))->text();
        dialog.findChild<QPushButton*>(QStringLiteral("btnConnect"))->click();
        manifests = dialog.findChild<QLabel*>(QStringLiteral("lblManifests"))->text();
        dialog.accept();
    });
    trigger(MainActions::ConnectBrowser);
    EXPECT_EQ(connected, QStringLiteral("Connected: chromium 156.0."));
    // With Chromium installed, the advice is to load the companion, or, where Clip Vault's
    // package is installed on this machine too, that the package did.
    if (!QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty()) {
        EXPECT_TRUE(advice.contains(QStringLiteral("Chromium: open chrome://extensions")) ||
                    advice.contains(QStringLiteral("Chromium: Clip Vault's package installed")))
            << qPrintable(advice);
    }
    // This test program has no host beside it, as a program installed without one would not.
    EXPECT_TRUE(manifests.contains(QStringLiteral("host is not installed beside the program")))
        << qPrintable(manifests);
}

TEST_F(CommandTest, TheHelpMenuOpensTheManualOrSaysThereIsNoneAndShowsTheAboutBox)
{
    start();
    // No manual anywhere: nothing opens, and the status bar says why.
    trigger(MainActions::HelpManual);
    EXPECT_TRUE(desktop.opened.isEmpty());
    EXPECT_EQ(window->statusBar()->currentMessage(),
              QStringLiteral("No help manual is installed."));

    ASSERT_TRUE(writeFile(path("clipvault.conf"), "helppath=/opt/manuals/clipvault.html\n"));
    trigger(MainActions::HelpManual);
    EXPECT_EQ(desktop.opened, QStringList{"/opt/manuals/clipvault.html"});
    // A viewer that ends at once says why.
    desktop.endsAtOnceSaying = QStringLiteral("no method available for opening");
    trigger(MainActions::HelpManual);
    ASSERT_FALSE(prompt.messages.empty());
    EXPECT_TRUE(
        prompt.messages.back().text.endsWith(QStringLiteral(":\nno method available for opening")))
        << qPrintable(prompt.messages.back().text);
    prompt.messages.clear();
    desktop.endsAtOnceSaying.clear();

    QString title;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        title = about->windowTitle();
        about->findChild<QPushButton*>(QStringLiteral("OKButton"))->click();
    });
    trigger(MainActions::ShowAbout);
    EXPECT_EQ(title, QStringLiteral("About Clip Vault"));
}
