// The detection dialog driven offscreen against local servers, and the openers.

#include "mainwindowfixture.h"

#include "cacheenumerator.h"
#include "catalogue.h"
#include "detectflashfromurl.h"
#include "detectionrowmodel.h"
#include "downloadflow.h"
#include "mainactions.h"
#include "scriptedprompt.h"
#include "archivestandin.h"
#include "testserver.h"
#include "waituntil.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <chrono>

namespace {

using namespace std::chrono_literals;

/// A small site: a page with a movie and a frame in another folder, whose movie resolves on the
/// frame's own address; every movie answers as a movie.
class DetectDialogTest : public ::testing::Test
{
protected:
    DetectDialogTest()
    {
        for (const char* name : {"Mtv", "Game", "Fun", "Downloading", "Downloaded", "Deleted"})
            catalogue.AddCategory(CategoryNamed(QString::fromLatin1(name)));
        server.server().Get("/index.html", [](const httplib::Request&, httplib::Response& r) {
            r.set_content("<embed src='one.swf'><embed src='two.swf'>"
                          "<iframe src='frames/f.html'></iframe>",
                          "text/html");
        });
        server.server().Get("/frames/f.html", [](const httplib::Request&, httplib::Response& r) {
            r.set_content("<embed src=\"three.swf\">", "text/html");
        });
        server.server().Get("/hung.html", [this](const httplib::Request&, httplib::Response&) {
            hungAsked = true;
            server.holdWhileStalling(60s);
        });
        server.start();
    }

    QString url(const char* path) const { return QString::fromStdString(server.url(path)); }
    std::atomic<bool> hungAsked{false};

    DetectServices services()
    {
        return {
            catalogue, prompt,
            [this](QObject* context, std::function<void(const QString&)> use) {
                QTimer::singleShot(0, context, [use, address = browserAddress] { use(address); });
            },
            [] {
                return CacheEnumerator::CachesBelow(QStringLiteral(CLIPVAULT_FIXTURES "/cache"));
            },
            nullptr};
    }

    template <typename T>
    static T* control(QWidget& dialog, const char* name)
    {
        T* widget = dialog.findChild<T*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    /// Types the address and presses "Detect!", then waits until the detection has ended.
    static bool detect(TDetectFlashFromUrl& dialog, const QString& address)
    {
        control<QLineEdit>(dialog, "edtUrl")->setText(address);
        control<QPushButton>(dialog, "btnDetect")->click();
        return waitUntil([&] { return !dialog.isDetecting(); });
    }

    static void select(TDetectFlashFromUrl& dialog, const QList<int>& rows)
    {
        auto* list = control<QTreeView>(dialog, "lvflashitemslist");
        list->clearSelection();
        for (int row : rows)
            list->selectionModel()->select(dialog.rows().index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    static QList<bool> checks(const TDetectFlashFromUrl& dialog)
    {
        QList<bool> checked;
        for (const ResultRow& row : dialog.rows().rows())
            checked << row.checked;
        return checked;
    }

    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    Catalogue catalogue{prompt, options};
    TestServer server;
    QString browserAddress;
};

} // namespace

TEST_F(DetectDialogTest, AWebPageAndItsFramesAreListedWithTheSitesCachedMovies)
{
    browserAddress = url("/index.html");
    TDetectFlashFromUrl dialog(services());
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Detect from Webpage"));
    auto* address = control<QLineEdit>(dialog, "edtUrl");
    EXPECT_TRUE(waitUntil([&] { return address->text() == browserAddress; }))
        << "the browser's page is not in the box";
    EXPECT_EQ(control<QComboBox>(dialog, "cmbcat")->currentText(), QStringLiteral("Downloaded"));
    EXPECT_EQ(dialog.height(), 367);

    ASSERT_TRUE(detect(dialog, address->text()));
    EXPECT_EQ(control<QLabel>(dialog, "statubar")->text(), QStringLiteral("Finished"));
    QStringList listed;
    for (const ResultRow& row : dialog.rows().rows())
        listed << row.address;
    EXPECT_EQ(listed.mid(0, 3),
              (QStringList{url("/one.swf"), url("/two.swf"), url("/frames/three.swf")}));
    EXPECT_EQ(dialog.rows().row(2).saveAs, QStringLiteral("three.swf"));
    auto* list = control<QTreeView>(dialog, "lvflashitemslist");
    EXPECT_TRUE(waitUntil([&] {
        return list->columnWidth(0) >
               list->fontMetrics().horizontalAdvance(url("/frames/three.swf"));
    })) << "the address column cuts its addresses";
    EXPECT_TRUE(control<QPushButton>(dialog, "btnDetect")->isEnabled());

    browserAddress = QStringLiteral("about:blank");
    control<QToolButton>(dialog, "btnCheckUrl")->click();
    EXPECT_TRUE(waitUntil([&] { return address->text() == u"about:blank"; }))
        << "\"Webpage URL\" takes whatever the browser shows";
}

TEST_F(DetectDialogTest, TheBrowsersAddressIsAskedWithoutHoldingTheDialog)
{
    // A browser that answers only when the test lets it, and once more after the dialog went.
    std::vector<std::pair<QPointer<QObject>, std::function<void(const QString&)>>> asked;
    DetectServices hung = services();
    hung.browserAddress = [&](QObject* context, std::function<void(const QString&)> use) {
        asked.emplace_back(context, std::move(use));
    };
    auto dialog = std::make_unique<TDetectFlashFromUrl>(hung);
    dialog->show();
    auto* address = control<QLineEdit>(*dialog, "edtUrl");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(address->text().isEmpty());
    asked.front().second(QStringLiteral("http://late.example/page.html"));
    EXPECT_EQ(address->text(), QStringLiteral("http://late.example/page.html"));
    dialog.reset();
    EXPECT_TRUE(asked.front().first.isNull()) << "the answer's context goes with the dialog";
}

TEST_F(DetectDialogTest, ChecksCategoriesAndTheAdvancedPanelFollowTheUser)
{
    TDetectFlashFromUrl dialog(services());
    dialog.show();
    ASSERT_TRUE(detect(dialog, url("/index.html")));
    ASSERT_GE(dialog.rows().rowCount(), 3);

    select(dialog, {0, 2});
    dialog.CheckupseletedItems1Click();
    EXPECT_EQ(checks(dialog).mid(0, 3), (QList<bool>{true, false, true}));
    dialog.CheckupseletedItems1Click();
    EXPECT_EQ(checks(dialog).mid(0, 3), (QList<bool>{false, false, false}))
        << "the next use unchecks, whatever the rows showed";
    select(dialog, {1});
    dialog.ReverseinseletedItems1Click();
    EXPECT_EQ(checks(dialog).mid(0, 3), (QList<bool>{false, true, false}));
    dialog.ReverseinseletedItems2Click();
    EXPECT_EQ(checks(dialog).mid(0, 3), (QList<bool>{true, false, true}));

    // A category for the selected row only.
    select(dialog, {1, 2});
    auto* box = control<QComboBox>(dialog, "cmbcat");
    box->setCurrentIndex(box->findText(QStringLiteral("Fun")));
    emit box->activated(box->currentIndex());
    EXPECT_EQ(dialog.rows().row(1).category, QStringLiteral("Fun"));
    EXPECT_TRUE(dialog.rows().row(2).category.isEmpty());

    auto* advanced = control<QPushButton>(dialog, "Button1");
    advanced->click();
    EXPECT_EQ(advanced->text(), QStringLiteral("Advanced Mode <<"));
    EXPECT_EQ(dialog.height(), 517);
    advanced->click();
    EXPECT_EQ(advanced->text(), QStringLiteral("Advanced Mode >>"));

    QStringList movies{QStringLiteral("stale")};
    QStringList categories;
    dialog.CollectCheckedItems(movies, categories);
    EXPECT_EQ(movies, (QStringList{url("/one.swf"), url("/frames/three.swf")}));
    EXPECT_EQ(categories, (QStringList{QString(), QString()}));
}

TEST_F(DetectDialogTest, SavingNothingAsksAndAFailedFetchSaysWhy)
{
    TDetectFlashFromUrl dialog(services());
    dialog.show();
    prompt.answer({false, true});
    control<QPushButton>(dialog, "BitBtn1")->click();
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_EQ(prompt.questions[0].text, QStringLiteral("no item has been checked, give up?"));
    EXPECT_EQ(prompt.questions[0].caption, QStringLiteral("confirm"));
    EXPECT_TRUE(dialog.isVisible()) << "No keeps the dialog open";

    ASSERT_TRUE(detect(dialog, url("/missing.html")));
    EXPECT_EQ(control<QLabel>(dialog, "statubar")->text(), QStringLiteral("Failed"));
    EXPECT_TRUE(control<QPushButton>(dialog, "btnDetect")->isEnabled());
    ASSERT_FALSE(prompt.messages.empty());
    EXPECT_EQ(prompt.messages.back().text, QStringLiteral("Not Found"));

    control<QPushButton>(dialog, "BitBtn1")->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << "Yes gives up with nothing";
}

TEST_F(DetectDialogTest, CloseCancelsARunningDetectionAtOnce)
{
    TDetectFlashFromUrl dialog(services());
    dialog.show();
    control<QLineEdit>(dialog, "edtUrl")->setText(url("/hung.html"));
    control<QPushButton>(dialog, "btnDetect")->click();
    ASSERT_TRUE(waitUntil([&] { return hungAsked.load(); })) << "the page was never asked for";
    EXPECT_TRUE(dialog.isDetecting());
    EXPECT_FALSE(control<QPushButton>(dialog, "btnDetect")->isEnabled());
    control<QPushButton>(dialog, "BitBtn2")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(waitUntil([&] { return !dialog.isDetecting(); })) << "the fetch was not ended";
    server.releaseStalls();
}

TEST_F(DetectDialogTest, CacheModeListsEveryCachedMovie)
{
    TDetectFlashFromUrl dialog(services());
    dialog.setCacheMode(true);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Detect from cache"));
    auto* address = control<QLineEdit>(dialog, "edtUrl");
    EXPECT_EQ(address->text(), QStringLiteral(" << Local Cache >>"));
    EXPECT_FALSE(address->isEnabled());
    EXPECT_TRUE(control<QToolButton>(dialog, "btnCheckUrl")->isHidden());
    control<QPushButton>(dialog, "btnDetect")->click();
    ASSERT_TRUE(waitUntil([&] { return !dialog.isDetecting(); }));
    const int found = dialog.rows().rowCount();
    EXPECT_GE(found, 2) << "the fixtures' cached movies";
    control<QPushButton>(dialog, "btnDetect")->click();
    ASSERT_TRUE(waitUntil([&] { return !dialog.isDetecting(); }));
    EXPECT_EQ(dialog.rows().rowCount(), found) << "a second run adds only what is not listed";
}

namespace {

class DetectOpenerTest : public MainWindowTest
{
};

} // namespace

TEST_F(DetectOpenerTest, TheCheckedMoviesAreAddedAndDownloadedInOrderIntoTheirCategory)
{
    TestServer site;
    site.server().Get("/page.html", [](const httplib::Request&, httplib::Response& r) {
        r.set_content("<embed src='a.swf'><embed src='b.swf'><embed src='c.swf'>", "text/html");
    });
    site.server().Get(R"(/(\w)\.swf)", [](const httplib::Request& request, httplib::Response& r) {
        r.set_content("FWS " + std::string(request.matches[1]), "application/x-shockwave-flash");
    });
    site.start();
    start();
    const QString page = QString::fromStdString(site.url("/page.html"));
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TDetectFlashFromUrl*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QLineEdit*>(QStringLiteral("edtUrl"))->setText(page);
        dialog->findChild<QPushButton*>(QStringLiteral("btnDetect"))->click();
        ASSERT_TRUE(waitUntil([&] { return !dialog->isDetecting(); }));
        auto* box = dialog->findChild<QComboBox*>(QStringLiteral("cmbcat"));
        auto* list = dialog->findChild<QTreeView*>(QStringLiteral("lvflashitemslist"));
        for (int row = 0; row < 3; ++row) {
            dialog->rows().setChecked(row, true);
            list->selectionModel()->select(dialog->rows().index(row, 0),
                                           QItemSelectionModel::ClearAndSelect |
                                               QItemSelectionModel::Rows);
            box->setCurrentIndex(box->findText(QStringLiteral("Fun")));
            emit box->activated(box->currentIndex());
        }
        dialog->findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    });
    QSignalSpy finished(&app->downloads(), &DownloadFlow::finished);
    window->actions().action(MainActions::DetectFlashfromUrl)->trigger();
    ASSERT_TRUE(finished.wait(60000)) << "the downloads never ended";
    Catalogue& catalogue = app->catalogue();
    ASSERT_EQ(catalogue.itemCount(), 3);
    for (int i = 0; i < 3; ++i) {
        const ItemRecord& item = catalogue.item(i);
        EXPECT_EQ(FieldText(item.Url),
                  QString::fromStdString(site.url(std::string("/") + char('a' + i) + ".swf")));
        EXPECT_EQ(FieldText(item.Category), QStringLiteral("Fun"));
    }
    EXPECT_TRUE(waitUntil([&] {
        return catalogue.item(2).state() == ItemState::Downloaded &&
               catalogue.item(0).state() == ItemState::Downloaded;
    }));
}

TEST_F(DetectDialogTest, TheBrowserTabModeListsWhatTheTabHolds)
{
    browserAddress = url("/index.html");
    DetectServices services = this->services();
    services.tabMovies = [](QObject* context, BrowserSession::MoviesAnswer use) {
        QTimer::singleShot(0, context, [use] {
            use({{"http://a.example/one.swf", "http://a.example/", {"element"}},
                 {"http://b.example/two.swf", "http://b.example/f.html", {"ruffle", "network"}}});
        });
    };
    TDetectFlashFromUrl dialog(services);
    dialog.setSource(DetectSource::BrowserTab);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Detect from the browser tab"));
    auto* address = control<QLineEdit>(dialog, "edtUrl");
    EXPECT_TRUE(waitUntil([&] { return address->text() == browserAddress; }));
    EXPECT_TRUE(address->isReadOnly());

    control<QPushButton>(dialog, "btnDetect")->click();
    ASSERT_TRUE(waitUntil([&] { return dialog.rows().rowCount() == 2; }));
    EXPECT_EQ(dialog.rows().row(1).address, QStringLiteral("http://b.example/two.swf"));
    EXPECT_EQ(dialog.rows().row(1).saveAs, QStringLiteral("two.swf"));
    EXPECT_EQ(control<QLabel>(dialog, "statubar")->text(), QStringLiteral("Finished"));
}

TEST_F(DetectOpenerTest, TheWebArchivesMoviesOfASiteAreListedFiledAndDownloaded)
{
    // The site still answers for its movies; the archive knows which it had.
    TestServer site;
    site.server().Get(R"(/(\w)\.swf)", [](const httplib::Request& request, httplib::Response& r) {
        r.set_content("FWS " + std::string(request.matches[1]), "application/x-shockwave-flash");
    });
    site.start();
    ArchiveStandIn archive;
    for (const char* name : {"a", "b"})
        archive.captures.push_back({"20090315000000", site.url(std::string("/") + name + ".swf"),
                                    "application/x-shockwave-flash", 200, name, "FWS"});
    archive.captures.push_back(
        {"20090315000000", site.url("/index.html"), "text/html", 200, "x", "<html>"});
    archive.start();
    qputenv("CLIPVAULT_ARCHIVE_URL", archive.address().toUtf8());
    ASSERT_TRUE(writeFile(path("clipvault.conf"), "[General]\narchivepace=50\n"));
    start();
    QString tip;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TDetectFlashFromUrl*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Detect from the web archive"));
        dialog->findChild<QLineEdit*>(QStringLiteral("edtUrl"))
            ->setText(QString::fromStdString(site.url("/")));
        dialog->findChild<QPushButton*>(QStringLiteral("btnDetect"))->click();
        EXPECT_TRUE(waitUntil([&] { return !dialog->isDetecting(); }));
        EXPECT_EQ(dialog->rows().rowCount(), 2) << "the page is no movie";
        tip = dialog->rows().index(0, 0).data(Qt::ToolTipRole).toString();
        for (int row = 0; row < dialog->rows().rowCount(); ++row)
            dialog->rows().setChecked(row, true);
        dialog->findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    });
    QSignalSpy finished(&app->downloads(), &DownloadFlow::finished);
    window->actions().action(MainActions::DetectFlashfromArchive)->trigger();
    qputenv("CLIPVAULT_ARCHIVE_URL", "http://127.0.0.1:9");
    EXPECT_TRUE(tip.endsWith(QStringLiteral("archived 15 March 2009"))) << qPrintable(tip);
    ASSERT_TRUE(finished.wait(60000)) << "the downloads never ended";
    ASSERT_EQ(app->catalogue().itemCount(), 2);
    EXPECT_TRUE(waitUntil([&] {
        return app->catalogue().item(1).state() == ItemState::Downloaded &&
               app->catalogue().item(0).state() == ItemState::Downloaded;
    }));
    EXPECT_EQ(FieldText(app->catalogue().item(0).Url), QString::fromStdString(site.url("/a.swf")))
        << "filed under its original address";
}
