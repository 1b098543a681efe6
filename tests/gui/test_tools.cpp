// The search command, the options and tray switches, and the hanging window.

#include "mainwindowfixture.h"

#include "fake/fakepointerhook.h"
#include "hookappform.h"
#include "mainactions.h"
#include "miniform.h"
#include "modaldialog.h"
#include "swfwriter.h"
#include "traycontroller.h"
#include "trayswitches.h"
#include "waituntil.h"

#include <QAction>
#include <QTreeWidget>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <functional>
#include <vector>

namespace {

/// Fills the search dialog and presses a button.
void answerSearch(const QString& text, std::initializer_list<const char*> boxes, const char* button)
{
    // The list's own array ends with this call; the dialog opens later.
    const std::vector<const char*> untick(boxes);
    onNextModal([=](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Search"));
        auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("edt_for_search"));
        EXPECT_TRUE(edit->text().isEmpty()) << "nothing is remembered between searches";
        for (const char* name :
             {"chk_search_in_filename", "chk_search_in_url", "chk_search_in_comment"})
            EXPECT_TRUE(dialog.findChild<QCheckBox*>(QLatin1String(name))->isChecked()) << name;
        EXPECT_FALSE(dialog.findChild<QCheckBox*>(QStringLiteral("chk_search_inside"))->isChecked())
            << "the movies are looked into only when asked";
        edit->setText(text);
        for (const char* name : untick)
            dialog.findChild<QCheckBox*>(QLatin1String(name))->setChecked(false);
        dialog.findChild<QPushButton*>(QLatin1String(button))->click();
    });
}

class ToolsTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(
            writeFile(path("downloading.log"),
                      logHeaderBytes("clipvault", 4) +
                          itemBytes('D', "http://a.com/Intro.swf", "Game", "/m/Game/", "intro.swf",
                                    "the  SPACE level") +
                          itemBytes('D', "http://b.org/run.swf", "Game", "/m/Game/", "Runner.SWF") +
                          itemBytes('N', "http://c.net/space.swf", "Fun", "/m/Fun/", "other.swf") +
                          itemBytes('X', "http://d.net/gone.swf", "Fun", "/m/Fun/", "gone.swf")));
    }

    /// The main window with the shortcut bar's watch, the hanging window and the tray switches.
    void startShell()
    {
        start();
        hook = std::make_unique<FakePointerHook>(hookInstallable);
        hookForm = std::make_unique<THookappForm>(
            *hook, prompt, QDir(folder.path()).filePath(QStringLiteral("block")));
        hookForm->FormCreate(app->options().ShortcutBarEnabled != 0);
        miniForm = std::make_unique<TMiniForm>(window->tray().menu(), [this] {
            if (!window->isShownState())
                window->ToggleMainWindow();
        });
        miniForm->FormCreate(app->options().HangingWindowVisible != 0);
        QObject::connect(window.get(), &TClipVaultMain::shown, miniForm.get(),
                         &TMiniForm::showWithMainWindow);
        switches = std::make_unique<TraySwitches>(window->actions(), *app, *hookForm, *miniForm);
    }
    QAction* action(MainActions::Id id) const { return window->actions().action(id); }
    QByteArray savedOptions() const { return readFile(path("clipvault.opt")); }
    /// Confirms the options dialog after setting the two display switches.
    void confirmOptions(bool bar, bool hanging)
    {
        onNextModal([=](QDialog& dialog) {
            dialog.findChild<QCheckBox*>(QStringLiteral("chk_show_bar"))->setChecked(bar);
            dialog.findChild<QCheckBox*>(QStringLiteral("chk_show_miniwin"))->setChecked(hanging);
            dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        action(MainActions::SetOptions)->trigger();
    }

    bool hookInstallable = true;
    std::unique_ptr<FakePointerHook> hook;
    std::unique_ptr<THookappForm> hookForm;
    std::unique_ptr<TMiniForm> miniForm;
    std::unique_ptr<TraySwitches> switches;
};

} // namespace

TEST_F(ToolsTest, SearchListsWhatItFindsInTheChosenFieldsAndKeepsTheListOtherwise)
{
    start();
    ASSERT_EQ(listedUrls(1), QStringList{"http://c.net/space.swf"});

    // The text is trimmed and case is ignored; file name, URL and comment are looked in.
    answerSearch(QStringLiteral("  Space "), {}, "btnOk");
    action(MainActions::SearchAction)->trigger();
    QStringList found;
    for (int row = 0; row < window->itemModel().rowCount(); ++row)
        found << window->itemModel().urlAt(row);
    EXPECT_EQ(found, (QStringList{"http://a.com/Intro.swf", "http://c.net/space.swf"}))
        << "every item, whatever its node, in catalogue order";

    // Only the file name: "swf" is in every name but one written in capitals counts too.
    answerSearch(QStringLiteral("SWF"), {"chk_search_in_url", "chk_search_in_comment"}, "btnOk");
    action(MainActions::SearchAction)->trigger();
    EXPECT_EQ(window->itemModel().rowCount(), 4);

    const int before = window->itemModel().rowCount();
    const auto expectListKept = [&](const char* why) {
        action(MainActions::SearchAction)->trigger();
        EXPECT_EQ(window->itemModel().rowCount(), before) << why;
    };
    answerSearch(QStringLiteral("nowhere"), {}, "btnOk");
    expectListKept("a text found nowhere");
    answerSearch(QStringLiteral("swf"), {}, "btnCancel");
    expectListKept("a cancelled dialog searches for nothing");
    answerSearch(QStringLiteral("swf"),
                 {"chk_search_in_filename", "chk_search_in_url", "chk_search_in_comment"}, "btnOk");
    expectListKept("no field to look in");
}

TEST_F(ToolsTest, SearchResultsFollowTheirItemsUntilANodeIsShown)
{
    start();
    listedUrls(1);
    SearchRequest request;
    request.text = QStringLiteral("gone");
    request.inUrl = true;
    window->SearchItems(request);
    EXPECT_EQ(request.matches, 1);
    ASSERT_EQ(window->itemModel().rowCount(), 1);
    EXPECT_EQ(window->selectedItemUrl(), QStringLiteral("http://d.net/gone.swf"))
        << "the info pane and the preview follow the first result";
    const int gone = app->catalogue().FindItemByUrl(QStringLiteral("http://d.net/gone.swf"));
    ItemRecord record = app->catalogue().item(gone);
    SetFieldText(record.Comment, QStringLiteral("changed"));
    app->catalogue().updateItem(gone, record);
    EXPECT_EQ(window->itemModel().rowCount(), 1) << "still found, so still listed";
    listedUrls(0);
    EXPECT_EQ(listedUrls(1), QStringList{"http://c.net/space.swf"})
        << "showing a node lists it again";
}

TEST_F(ToolsTest, InsideTheMovieFindsWhatItsMovieHoldsOnceItsFactsAreRead)
{
    SwfMovie secret;
    secret.tags = swftags::editText(1, "The Secret Level", false);
    ASSERT_TRUE(writeFile(path("secret.swf"), WriteSwf(secret)));
    const QByteArray here = (folder.path() + u'/').toUtf8();
    ASSERT_TRUE(
        writeFile(path("downloading.log"),
                  logHeaderBytes("clipvault", 1) + itemBytes('D', "http://e.com/robot.swf", "Game",
                                                             here.constData(), "secret.swf")));
    start();
    const auto found = [&](bool inside) {
        SearchRequest request;
        request.text = QStringLiteral("secret LEVEL");
        request.inFileName = request.inUrl = request.inComment = true;
        request.insideMovie = inside;
        window->SearchItems(request);
        return request.matches;
    };
    EXPECT_EQ(found(true), 0) << "its facts are not read yet, and the search does not read them";
    facts->gather();
    ASSERT_TRUE(waitUntil([&] { return !facts->isGathering() && found(true) == 1; }));
    EXPECT_EQ(found(false), 0) << "not inside the movie unless asked";
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(path("movie-facts.json")); }))
        << "what was read is kept";

    // The info pane shows what is inside the selected movie.
    ASSERT_EQ(listedUrls(4), QStringList{"http://e.com/robot.swf"}); // Game
    list()->setCurrentIndex(window->itemModel().index(0, 0));
    auto* info = window->findChild<QTreeWidget*>(QStringLiteral("lvItemInfo"));
    QStringList rows;
    for (int i = 0; i < info->topLevelItemCount(); ++i)
        rows << info->topLevelItem(i)->text(0) + u'=' + info->topLevelItem(i)->text(1);
    EXPECT_TRUE(rows.contains(QStringLiteral("ActionScript=1 or 2 (AVM1)")))
        << qPrintable(rows.join(u'|'));
    EXPECT_TRUE(rows.contains(QStringLiteral("Texts=The Secret Level")));
    EXPECT_TRUE(rows.contains(
        QStringLiteral("Length=%1 bytes in the file; its header announces %1 unpacked")
            .arg(QFileInfo(path("secret.swf")).size())));
}

TEST_F(ToolsTest, TheTraySwitchesTurnTheWatchAndTheHangingWindowOnAndOff)
{
    startShell();
    EXPECT_TRUE(hook->isInstalled());
    EXPECT_TRUE(action(MainActions::ShowVaultBar1)->isChecked());
    EXPECT_TRUE(action(MainActions::ShowMiniWin1)->isChecked());

    action(MainActions::ShowVaultBar1)->trigger();
    EXPECT_FALSE(hook->isInstalled());
    EXPECT_FALSE(hookForm->HookInstalled());
    EXPECT_FALSE(action(MainActions::ShowVaultBar1)->isChecked());
    EXPECT_EQ(savedOptions().at(8), 0) << "the switch saves at once";

    // Off in the tray, on again in the options dialog: installed again.
    confirmOptions(true, true);
    EXPECT_TRUE(hook->isInstalled());
    EXPECT_TRUE(action(MainActions::ShowVaultBar1)->isChecked());

    window->showAtStart();
    ASSERT_TRUE(waitUntil([&] { return miniForm->isVisible(); }));
    action(MainActions::ShowMiniWin1)->trigger();
    EXPECT_FALSE(miniForm->isVisible()) << "hidden at once";
    EXPECT_EQ(savedOptions().at(9), 0);

    // Kept hidden after a restart: created with the option off, the main window brings up
    // nothing that can be seen.
    options = DefaultOptions();
    ASSERT_TRUE(LoadOptions(path("clipvault.opt"), options) == OptionsLoad::Loaded);
    EXPECT_EQ(options.HangingWindowVisible, 0);
    TMiniForm restarted(window->tray().menu(), [] {});
    restarted.FormCreate(false);
    restarted.showWithMainWindow();
    EXPECT_FALSE(restarted.isVisible());
    EXPECT_TRUE(restarted.size().isEmpty());
}

TEST_F(ToolsTest, EveryViewFollowsTheOptionsWhoeverChangesThem)
{
    startShell();
    window->showAtStart();
    ASSERT_TRUE(waitUntil([&] { return miniForm->isVisible(); }));
    auto* preview = window->findChild<QCheckBox*>(QStringLiteral("chk_preview"));
    ASSERT_TRUE(preview->isChecked());

    // As the shortcut bar's own options dialog changes them.
    OptionsRecord changed = app->options();
    changed.ShortcutBarEnabled = 0;
    changed.HangingWindowVisible = 0;
    changed.PreviewEnabled = 0;
    app->setOptions(changed);
    EXPECT_FALSE(hook->isInstalled());
    EXPECT_FALSE(action(MainActions::ShowVaultBar1)->isChecked());
    EXPECT_FALSE(miniForm->isVisible());
    EXPECT_FALSE(action(MainActions::ShowMiniWin1)->isChecked());
    EXPECT_FALSE(preview->isChecked());
}

TEST_F(ToolsTest, AFailedInstallFromTheTraySaysSoAndTheSwitchKeepsTheChoice)
{
    options.ShortcutBarEnabled = 0;
    ASSERT_TRUE(SaveOptions(path("clipvault.opt"), options));
    hookInstallable = false;
    startShell();
    EXPECT_FALSE(hook->isInstalled());
    action(MainActions::ShowVaultBar1)->trigger();
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, QStringLiteral("Enable Mouse Hook failed."));
    EXPECT_TRUE(action(MainActions::ShowVaultBar1)->isChecked());
    EXPECT_TRUE(hookForm->HookInstalled()) << "the belief follows the option";
    EXPECT_EQ(savedOptions().at(8), 1);
}

TEST_F(ToolsTest, OptionsApplyTheHangingWindowAndACancelledDialogNothing)
{
    options.HangingWindowVisible = 0;
    ASSERT_TRUE(SaveOptions(path("clipvault.opt"), options));
    startShell();
    window->showAtStart();
    EXPECT_FALSE(miniForm->isVisible());
    EXPECT_FALSE(action(MainActions::ShowMiniWin1)->isChecked());

    confirmOptions(true, true);
    EXPECT_TRUE(miniForm->isVisible());
    EXPECT_EQ(miniForm->size(), QSize(40, 40));
    EXPECT_TRUE(action(MainActions::ShowMiniWin1)->isChecked());

    onNextModal([](QDialog& dialog) {
        dialog.findChild<QCheckBox*>(QStringLiteral("chk_show_miniwin"))->setChecked(false);
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    });
    action(MainActions::SetOptions)->trigger();
    EXPECT_TRUE(miniForm->isVisible());
    EXPECT_TRUE(action(MainActions::ShowMiniWin1)->isChecked());
}

TEST_F(ToolsTest, TheHangingWindowFloatsBlackAndHalfSeenAndAnswersItsClicks)
{
    options.HangingWindowVisible = 0;
    ASSERT_TRUE(SaveOptions(path("clipvault.opt"), options));
    startShell();
    window->showAtStart();
    // Turned on from the tray: 40 × 40 at 615,170.
    action(MainActions::ShowMiniWin1)->trigger();
    ASSERT_TRUE(waitUntil([&] { return miniForm->isVisible(); }));
    EXPECT_EQ(miniForm->geometry(), QRect(615, 170, 40, 40));
    EXPECT_DOUBLE_EQ(miniForm->windowOpacity(), 150.0 / 255.0);
    EXPECT_TRUE(miniForm->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(miniForm->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(miniForm->windowFlags() & Qt::WindowType_Mask, Qt::Tool) << "no taskbar entry";
    EXPECT_EQ(miniForm->grab().toImage().pixelColor(1, 1), QColor(Qt::black));

    // A double click while the main window is up changes nothing; after F7 it brings it back.
    QTest::mouseDClick(miniForm.get(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(window->isShownState());
    hotKey.press();
    ASSERT_FALSE(window->isShownState());
    EXPECT_TRUE(miniForm->isVisible()) << "putting the main window away keeps it up";
    QTest::mouseDClick(miniForm.get(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(window->isShownState());

    // A right click anywhere, the picture included, opens the tray menu.
    QWidget* picture = miniForm->findChild<QWidget*>(QStringLiteral("Image1"));
    QTest::mouseClick(picture, Qt::RightButton, {}, QPoint(5, 35));
    ASSERT_TRUE(waitUntil([&] { return window->tray().menu()->isVisible(); }));
    window->tray().menu()->hide();
}
