// The shortcut bar's reactions and commands, with the window system and the browser played by
// the test.

#include "browseraccess.h"
#include "catalogue.h"
#include "vault.h"
#include "modaldialog.h"
#include "browsersession.h"
#include "options.h"
#include "scripteddialogs.h"
#include "scriptedprompt.h"
#include "testfiles.h"
#include "vaultbar.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QTemporaryDir>

namespace {

/// The window system as the test sets it.
class StagedBrowserAccess final : public BrowserAccess
{
public:
    BrowserWindow FindBrowserFrame() override { return {}; }
    PointerScene ClassifyPointerWindow(QPoint) override { return scene; }

    PointerScene scene;
};

/// A browser whose answers the test gives.
class StagedLocator final : public BrowserSession
{
public:
    void FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen) override
    {
        asked.push_back({browser.port, screen});
    }
    void PauseMovieAtPoint(QPoint screen) override { paused.push_back(screen); }
    void GetAddressBarText(const BrowserEndpoint&, QObject*, AddressAnswer) override {}
    void FindTabMovies(const BrowserEndpoint&, QObject*, MoviesAnswer) override {}
    void FetchLoadedMovie(const BrowserEndpoint&, const QString&, QObject*, BodyAnswer) override {}

    /// Answers a point as a browser showing `page` does.
    void answer(QPoint screen, std::optional<MovieAtPoint> movie)
    {
        if (movie)
            movie->pageUrl = page;
        emit located(screen, movie);
    }

    std::vector<std::pair<quint16, QPoint>> asked;
    std::vector<QPoint> paused;
    QString page;
};

MovieAtPoint movieAt(const char* address, QRect rect, const char* frame = "")
{
    return {QLatin1String(address), rect, QLatin1String(frame)};
}

class VaultbarTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(writeFile(
            QDir(data.path()).filePath(QStringLiteral("category.log")),
            logHeaderBytes("clipvault", 3) + categoryBytes("Tom & Jerry", "/m/Tom/") +
                categoryBytes("Arcade", "/m/Arcade/") + categoryBytes("Game", "/m/Game/")));
        app = std::make_unique<Vault>(data.path(), options, prompt);
        app->LoadCatalogue();
        bar = std::make_unique<Tvaultbar>(*app, browser, locator, dialogs);
        browser.scene = {true, PointerScene::Over::BrowserPage, {9222}};
        // A page on a port nobody listens at: the downloads started here end at once.
        locator.page = QStringLiteral("http://127.0.0.1:1/arcade/play.html?level=3");
    }
    /// Shows the bar for a movie at a point.
    void showFor(const MovieAtPoint& movie, QPoint point = {250, 350})
    {
        bar->HandlePointerNotify(point);
        locator.answer(point, movie);
    }
    QStringList menuEntries() const
    {
        QStringList entries;
        for (QAction* entry : bar->categoryMenu()->actions())
            entries << (entry->isSeparator() ? QStringLiteral("-") : entry->text());
        return entries;
    }
    QAction* entry(const QString& text) const
    {
        for (QAction* action : bar->categoryMenu()->actions()) {
            if (action->text() == text)
                return action;
        }
        return nullptr;
    }
    QString categoryOf(const QString& url) const
    {
        const int index = app->catalogue().FindItemByUrl(url);
        return index < 0 ? QString() : FieldText(app->catalogue().item(index).Category);
    }

    QTemporaryDir data;
    OptionsRecord options = DefaultOptions();
    ScriptedPrompt prompt;
    ScriptedDialogs dialogs;
    StagedBrowserAccess browser;
    StagedLocator locator;
    std::unique_ptr<Vault> app;
    std::unique_ptr<Tvaultbar> bar;
};

} // namespace

TEST_F(VaultbarTest, ComesUpInsideTheMovieCornerAndGoesOnlyWithTheBrowserInFront)
{
    EXPECT_FALSE(bar->isVisible()) << "hidden until a movie is found";
    EXPECT_EQ(bar->size(), QSize(74, 26));
    EXPECT_TRUE(bar->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(bar->windowFlags() & Qt::WindowDoesNotAcceptFocus);

    showFor(movieAt("movies/run.swf?level=2&x=1", QRect(200, 300, 400, 300)));
    ASSERT_EQ(locator.asked.size(), 1u);
    EXPECT_EQ(locator.asked[0].first, 9222);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->pos(), QPoint(215, 315));
    EXPECT_EQ(bar->MovieUrl(), QStringLiteral("movies/run.swf")) << "cut before its \"?\"";
    EXPECT_EQ(locator.paused, std::vector<QPoint>{QPoint(250, 350)}) << "the pause option is on";

    // Shown, it stays where it is, also for another movie.
    showFor(movieAt("other.swf", QRect(0, 0, 100, 100)), {50, 50});
    EXPECT_EQ(bar->pos(), QPoint(215, 315));
    EXPECT_EQ(bar->MovieUrl(), QStringLiteral("movies/run.swf"));

    // Over the bar itself nothing is asked.
    const std::size_t asked = locator.asked.size();
    bar->HandlePointerNotify(bar->geometry().center());
    EXPECT_EQ(locator.asked.size(), asked);

    // Another program in front: whatever the pointer is over, nothing changes.
    browser.scene = {false, PointerScene::Over::Elsewhere, {}};
    bar->HandlePointerNotify({900, 900});
    EXPECT_TRUE(bar->isVisible());
    // The browser in front, the pointer off the page: gone. On the page, no movie: gone.
    browser.scene = {true, PointerScene::Over::Elsewhere, {}};
    bar->HandlePointerNotify({900, 900});
    EXPECT_FALSE(bar->isVisible());
    locator.answer({250, 350}, movieAt("run.swf", QRect(200, 300, 400, 300)));
    EXPECT_FALSE(bar->isVisible()) << "a late answer about a place the pointer has left";
    browser.scene = {true, PointerScene::Over::BrowserPage, {9222}};
    showFor(movieAt("run.swf", QRect(200, 300, 400, 300)));
    ASSERT_TRUE(bar->isVisible());
    bar->HandlePointerNotify({700, 400});
    locator.answer({700, 400}, std::nullopt);
    EXPECT_FALSE(bar->isVisible()) << "the page background";

    OptionsRecord noPause = app->options();
    noPause.PauseMovieOnBar = 0;
    app->setOptions(noPause);
    locator.paused.clear();
    showFor(movieAt("run.swf", QRect(200, 300, 400, 300)));
    EXPECT_TRUE(locator.paused.empty());
}

TEST_F(VaultbarTest, TheMenuListsTheUserCategoriesAndFilesTheMovieUnderOne)
{
    showFor(movieAt("movies/run.swf?level=2", QRect(200, 300, 400, 300)));
    bar->btnSaveCatClick();
    ASSERT_TRUE(waitUntil([&] { return bar->categoryMenu()->isVisible(); }));
    // The built-in categories are left out, "Downloaded" comes first; "&" is no accelerator.
    EXPECT_EQ(menuEntries(), (QStringList{"Downloaded", "-", "Tom && Jerry", "Arcade", "Game", "-",
                                          "Save to ..."}));
    bar->categoryMenu()->hide();

    // Relative to the page's folder, without the query; filed under the name as stored.
    entry(QStringLiteral("Tom && Jerry"))->trigger();
    EXPECT_EQ(categoryOf(QStringLiteral("http://127.0.0.1:1/arcade/movies/run.swf")),
              QStringLiteral("Tom & Jerry"));

    // Site-relative: the site root; twice the same address (the second is asked about).
    bar->hide();
    showFor(movieAt("/swf/a.swf", QRect(200, 300, 400, 300)));
    bar->btnSaveCatClick();
    entry(QStringLiteral("Arcade"))->trigger();
    EXPECT_EQ(categoryOf(QStringLiteral("http://127.0.0.1:1/swf/a.swf")), QStringLiteral("Arcade"));
    const int items = app->catalogue().itemCount();
    prompt.answer({false});
    bool barWhileAsked = true;
    prompt.onMessage = [&] {
        barWhileAsked = bar->isVisible();
    };
    ASSERT_TRUE(bar->isVisible());
    entry(QStringLiteral("Game"))->trigger();
    prompt.onMessage = nullptr;
    EXPECT_EQ(app->catalogue().itemCount(), items) << "declined: nothing added";
    EXPECT_EQ(prompt.questions.size(), 1u);
    EXPECT_FALSE(barWhileAsked) << "the bar goes while the question is open";
    bar->categoryMenu()->hide();

    // In a frame of another site: against the frame's document, not the page's.
    bar->hide();
    showFor(movieAt("play/b.swf", QRect(200, 300, 400, 300), "http://games.example/x/frame.html"));
    entry(QStringLiteral("Game"))->trigger();
    EXPECT_EQ(categoryOf(QStringLiteral("http://games.example/x/play/b.swf")),
              QStringLiteral("Game"));
}

TEST_F(VaultbarTest, SaveToAFileChosenOrCancelled)
{
    showFor(movieAt("HTTPS://cdn.example:1/Big.swf", QRect(200, 300, 400, 300)));
    bar->btnSaveCatClick();
    bar->categoryMenu()->hide();
    entry(QStringLiteral("Save to ..."))->trigger();
    EXPECT_EQ(dialogs.opened, QStringList{"save movie"});
    EXPECT_EQ(app->catalogue().itemCount(), 0) << "a cancelled dialog does nothing";

    dialogs.movieSaveFile = QDir(data.path()).filePath(QStringLiteral("kept/big.swf"));
    entry(QStringLiteral("Save to ..."))->trigger();
    const int index =
        app->catalogue().FindItemByUrl(QStringLiteral("HTTPS://cdn.example:1/Big.swf"));
    ASSERT_GE(index, 0) << "an address written absolute in capitals is kept as it is";
    EXPECT_EQ(FieldText(app->catalogue().item(index).Category), QStringLiteral("Downloaded"));
    EXPECT_EQ(FieldText(app->catalogue().item(index).FileName), dialogs.movieSaveFile);
}

TEST_F(VaultbarTest, ItsOptionsButtonTakesAndSavesTheOptions)
{
    onNextModal([](QDialog& dialog) {
        dialog.findChild<QCheckBox*>(QStringLiteral("chk_pause_movie"))->setChecked(false);
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    bar->btnOptionClick();
    EXPECT_EQ(app->options().PauseMovieOnBar, 0);
    EXPECT_EQ(readFile(QDir(data.path()).filePath(QStringLiteral("clipvault.opt"))).at(2), 0);
    // Read at every notification: in effect at once.
    showFor(movieAt("run.swf", QRect(200, 300, 400, 300)));
    EXPECT_TRUE(locator.paused.empty());
}

TEST_F(VaultbarTest, TheButtonsGiveTheirHintsAndKeepTheirGlyphsWhenHoveredOrPressed)
{
    EXPECT_TRUE(bar->testAttribute(Qt::WA_AlwaysShowToolTips))
        << "hints over a window never active";
    const struct
    {
        const char* name;
        const char* hint;
    } buttons[] = {{"btnSaveCat", "Save to a Category"}, {"btnOption", "Option"}};
    showFor(movieAt("m.swf", QRect(200, 300, 400, 300)));
    for (const auto& b : buttons) {
        auto* button = bar->findChild<QToolButton*>(QLatin1String(b.name));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->toolTip(), QLatin1String(b.hint));
        const auto glyphShows = [&] {
            const QImage face = bar->grab(button->geometry()).toImage();
            int light = 0;
            int dark = 0;
            for (int y = 0; y < face.height(); ++y)
                for (int x = 0; x < face.width(); ++x)
                    (qGray(face.pixel(x, y)) > 200 ? light : dark) += 1;
            return light > 4 && dark > face.width() * face.height() / 3;
        };
        EXPECT_TRUE(glyphShows()) << b.name;
        button->setAttribute(Qt::WA_UnderMouse, true);
        button->update();
        EXPECT_TRUE(glyphShows()) << b.name << " hovered";
        button->setDown(true);
        EXPECT_TRUE(glyphShows()) << b.name << " pressed";
        button->setDown(false);
        button->setAttribute(Qt::WA_UnderMouse, false);
    }
}
