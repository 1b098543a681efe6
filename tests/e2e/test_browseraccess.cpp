// The user's browser for real: Debian's Chromium with a debugging port, on this display with
// openbox, pointed at pages served here; the pointer is moved with XTest.

#include "barface.h"
#include "browserprobe.h"
#include "browserurls.h"
#include "clicommands.h"
#include "devtools/debuggingport.h"
#include "x11/x11browseraccess.h"

#include "catalogue.h"
#include "cataloguestore.h"
#include "vault.h"
#include "devtools/devtoolssession.h"
#include "hookappform.h"
#include "options.h"
#include "platformfactory.h"
#include "playerfiles.h"
#include "pointerhook.h"
#include "scripteddialogs.h"
#include "singleinstance.h"
#include "companionprogram.h"
#include "scriptedprompt.h"
#include "sharedblock.h"
#include "messageboxprompt.h"
#include "windowfocus.h"
#include "swfwriter.h"
#include "testserver.h"
#include "vaultbar.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QMap>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QWidget>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <functional>

// Xlib's macros clash with the headers above; it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;

const char kFlashPage[] = R"(<!DOCTYPE html><html><head><style>
body { margin: 0 } .box { display: block; width: 200px; height: 100px; margin: 20px; background: #ddd }
</style></head><body>
<embed class="box" src="a.swf" type="application/x-shockwave-flash">
<object class="box" data="/movies/b.swf?x=1" type="application/x-shockwave-flash"><param name="movie" value="/movies/b.swf?x=1"></object>
<object class="box" data="doc.pdf" type="application/pdf"></object>
<ruffle-embed class="box" id="r" src="ruffled.swf"></ruffle-embed>
<script>
  // Stands for a movie Ruffle plays in the page: its element answers Ruffle's API.
  window.paused = false;
  document.getElementById("r").ruffle = () => ({ suspend() { window.paused = true; } });
</script>
<div style="height: 3000px"></div>
</body></html>)";

// A page as sites keep their old movies playing today: Ruffle replaces the embed.
const char kPolyfilledPage[] = R"(<!DOCTYPE html><html><head>
<script>window.RufflePlayer = {config: {autoplay: "on", splashScreen: false,
  unmuteOverlay: "hidden", publicPath: "/ruffle/", polyfills: true}};</script>
<script src="/ruffle/ruffle.js"></script></head><body style="margin:0">
<embed src="played.swf" type="application/x-shockwave-flash" width="400" height="300"
       style="display:block;margin:20px">
</body></html>)";

// A page as Flash lives on in 2026: a movie added by script after load, one fetched by script,
// one Ruffle plays from script, and one in a frame of another site (localhost against
// 127.0.0.1: a process and a target of its own).
const char kTabPage[] = R"(<!DOCTYPE html><html><head>
<script>window.RufflePlayer = {config: {autoplay: "on", splashScreen: false,
  unmuteOverlay: "hidden", publicPath: "/ruffle/", polyfills: false}};</script>
<script src="/ruffle/ruffle.js"></script></head><body style="margin:0">
<div id="slot" style="height:120px"></div>
<div id="host" style="height:120px"></div>
<iframe id="frame" style="display:block;width:300px;height:150px;border:0"></iframe>
<script>
  document.getElementById("frame").src = "http://localhost:" + location.port + "/framed.html";
  addEventListener("load", () => {
    const e = document.createElement("embed");
    e.src = "added.swf"; e.type = "application/x-shockwave-flash";
    e.style = "display:block;width:200px;height:100px";
    document.getElementById("slot").appendChild(e);
    fetch("fetched.swf").then(r => r.arrayBuffer());
    const p = window.RufflePlayer.newest().createPlayer();
    p.style = "display:block;width:200px;height:100px";
    document.getElementById("host").appendChild(p);
    p.ruffle().load({url: "played.swf"});
  });
</script></body></html>)";

// A page that would hide the bar, move it under the user's next click and read its menu; and
// names a movie whose answer never ends, which it never loads itself.
const char kHostilePage[] = R"(<!DOCTYPE html><html><head><style>
body { margin: 0 }
clipvault-bar { opacity: 0 !important; top: 95px !important; left: 300px !important }
</style></head><body>
<embed src="target.swf" style="display:block;width:300px;height:200px">
<button style="position:absolute;left:300px;top:95px">PLAY</button>
<ruffle-embed src="endless.swf" style="display:block;width:200px;height:100px"></ruffle-embed>
</body></html>)";

class BrowserAccessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty())
            GTEST_SKIP() << "chromium is not installed";
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        server.server().Get("/flash.html",
                            [](const httplib::Request&, httplib::Response& response) {
                                response.set_content(kFlashPage, "text/html");
                            });
        server.server().Get("/hostile.html",
                            [](const httplib::Request&, httplib::Response& response) {
                                response.set_content(kHostilePage, "text/html");
                            });
        // A movie whose answer never ends, bounded here in bytes and time all the same.
        server.server().Get(
            "/endless.swf", [this](const httplib::Request&, httplib::Response& response) {
                response.set_chunked_content_provider(
                    "application/x-shockwave-flash", [this](size_t, httplib::DataSink& sink) {
                        static const std::string piece = "FWS" + std::string(1 << 20, '\x3f');
                        if (endlessSent >= (qint64(1) << 30) ||
                            !sink.write(piece.data(), piece.size())) {
                            endlessClosed = true;
                            return false;
                        }
                        endlessSent += qint64(piece.size());
                        return true;
                    });
            });
        server.server().Get(
            R"(/.*\.swf)", [](const httplib::Request&, httplib::Response& response) {
                const QByteArray movie = WriteSwf(SwfMovie());
                response.set_content(movie.constData(), static_cast<size_t>(movie.size()),
                                     "application/x-shockwave-flash");
            });
        server.server().Get("/polyfilled.html",
                            [](const httplib::Request&, httplib::Response& response) {
                                response.set_content(kPolyfilledPage, "text/html");
                            });
        server.server().set_mount_point("/ruffle", PlayerFiles::ruffleFolder().toStdString());
        server.server().Get("/tab.html", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(kTabPage, "text/html");
        });
        server.server().Get(
            "/framed.html", [](const httplib::Request&, httplib::Response& response) {
                response.set_content("<body style='margin:0'><embed src='framed.swf' "
                                     "style='display:block;width:200px;height:100px'></body>",
                                     "text/html");
            });
        server.server().Get(
            "/other.html", [](const httplib::Request&, httplib::Response& response) {
                response.set_content("<html><body>other</body></html>", "text/html");
            });
        // A page whose end never comes: it stays "loading", its movie already on screen.
        server.server().Get("/slow.html", [this](const httplib::Request&,
                                                 httplib::Response& response) {
            response.set_chunked_content_provider("text/html", [this](size_t offset,
                                                                      httplib::DataSink& sink) {
                if (offset == 0) {
                    slowHeadSent = true;
                    const std::string head = "<html><body style='margin:0'><embed src='slow.swf' "
                                             "style='display:block;width:300px;height:300px'>";
                    sink.write(head.data(), head.size());
                    return true;
                }
                server.holdWhileStalling(10s);
                return false;
            });
        });
        server.start();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        ASSERT_NO_FATAL_FAILURE(prepareBrowser(environment));
        browser.setProcessEnvironment(environment);
        browser.setProcessChannelMode(QProcess::MergedChannels);
        browser.start(
            chromium,
            QStringList{
                QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
                QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                QStringLiteral("--remote-debugging-port=0"),
                QStringLiteral("--user-data-dir=") + profile.path(),
                QStringLiteral("--window-position=0,0"), QStringLiteral("--window-size=1000,700")} +
                browserArguments() +
                QStringList{QString::fromStdString(server.url("/flash.html"))});
        ASSERT_TRUE(browser.waitForStarted());
        // A first navigation the browser drops now and then is given again, as navigate() does.
        QString seen;
        const QString first = QString::fromStdString(server.url("/flash.html"));
        QElapsedTimer started;
        started.start();
        ASSERT_TRUE(waitUntil(
            [&] {
                seen = addressBarText();
                if (seen == QStringLiteral("about:blank") && started.elapsed() > 10000) {
                    evaluate(QStringLiteral("location.href = '%1'").arg(first));
                    started.restart();
                }
                return seen == first;
            },
            90000))
            << "the browser did not come up with its debugging port; its tab showed \""
            << qPrintable(seen) << "\"; "
            << (browser.state() == QProcess::Running
                    ? std::string("it runs")
                    : "it ended with " + std::to_string(browser.exitCode()))
            << ", its last words: " << browser.readAll().right(2000).constData()
            << "; its pages: " << pagesOfBrowser().constData();
        // The page is laid out once the movie over which the tests point is found there.
        ASSERT_TRUE(waitUntil(
            [&] {
                movePointer({100, 200});
                return movieAt({100, 200}).has_value();
            },
            60000))
            << "the page never showed its first movie";
    }

    /// What a fixture adds to the browser's start: arguments, and its environment.
    virtual QStringList browserArguments() const { return {}; }
    virtual void prepareBrowser(QProcessEnvironment&) {}

    void TearDown() override
    {
        server.releaseStalls();
        browser.kill();
        browser.waitForFinished();
        if (display)
            XCloseDisplay(display);
    }

    void movePointer(QPoint point)
    {
        XTestFakeMotionEvent(display, -1, point.x(), point.y(), CurrentTime);
        XSync(display, False);
    }

    quint16 port() { return access.FindBrowserFrame().browser.port; }
    /// The browser's own list of its pages, for a message.
    QByteArray pagesOfBrowser()
    {
        QProcess curl;
        curl.start(QStringLiteral("curl"),
                   {"-s", "-m", "5", QStringLiteral("http://127.0.0.1:%1/json/list").arg(port())});
        curl.waitForFinished(10000);
        return curl.readAllStandardOutput().simplified();
    }
    QString addressBarText() { return probe.address(port()); }
    std::optional<MovieAtPoint> movieAt(QPoint screen) { return probe.movieAt(port(), screen); }
    /// Evaluates script in the visible tab and returns its value.
    QJsonValue evaluate(const QString& script) { return probe.evaluate(port(), script); }

    /// Sends the visible tab to a page of the server and waits until its address shows it; the
    /// order is given again now and then, since a busy page may miss it.
    bool navigate(const char* path)
    {
        const QString target = QString::fromStdString(server.url(path));
        for (int attempt = 0; attempt < 5; ++attempt) {
            evaluate(QStringLiteral("location.href = '%1'").arg(QLatin1String(path)));
            if (waitUntil([&] { return addressBarText() == target; }, 10000))
                return true;
        }
        return false;
    }

    /// Walks the pointer down a column of the page and collects the movies found under it, each
    /// with a rectangle that must hold the point.
    QStringList moviesDownColumn(int x)
    {
        QStringList found;
        for (int y = 100; y < 680; y += 15) {
            movePointer({x, y});
            const std::optional<MovieAtPoint> movie = movieAt({x, y});
            if (!movie)
                continue;
            EXPECT_TRUE(movie->screenRect.contains(QPoint(x, y)))
                << qPrintable(movie->address) << " at " << x << ',' << y;
            if (!found.contains(movie->address))
                found << movie->address;
        }
        return found;
    }

    /// A point over the movie of this address, found by walking down the page's first column,
    /// again until it is there: a frame of another site may come into the browser's view late.
    std::optional<QPoint> placeOf(QStringView address)
    {
        std::optional<QPoint> found;
        (void)waitUntil(
            [&] {
                for (int y = 100; y < 680 && !found; y += 15) {
                    movePointer({100, y});
                    const auto movie = movieAt({100, y});
                    if (movie && movie->address == address)
                        found = QPoint(100, y);
                }
                return found.has_value();
            },
            30000);
        return found;
    }

    QString chromium;
    std::atomic<bool> slowHeadSent{false};
    std::atomic<qint64> endlessSent{0};
    std::atomic<bool> endlessClosed{false};
    Display* display = nullptr;
    TestServer server;
    QTemporaryDir profile;
    QProcess browser;
    X11BrowserAccess access;
    BrowserProbe probe;
};

/// The shortcut bar on the real pointer watch, over the real browser, filing into a catalogue
/// on a temporary data folder.
class ShortcutBarTest : public BrowserAccessTest
{
protected:
    void SetUp() override
    {
        BrowserAccessTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        app = std::make_unique<Vault>(data.path(), options, prompt);
        app->LoadCatalogue();
        CategoryRecord fun;
        SetFieldText(fun.Name, QStringLiteral("Arcade"));
        SetFieldText(fun.Folder, QDir(data.path()).filePath(QStringLiteral("Arcade")) + u'/');
        ASSERT_TRUE(app->catalogue().AddCategory(fun));
        bar = std::make_unique<Tvaultbar>(*app, access, session, dialogs);
        QObject::connect(&session, &BrowserSession::located, bar.get(),
                         [this](QPoint screen, const std::optional<MovieAtPoint>& movie) {
                             answered = screen;
                             answeredMovie = movie ? movie->address : QStringLiteral("no movie");
                         });
        hook = platform::createPointerHook();
        hookForm = std::make_unique<THookappForm>(
            *hook, prompt, SharedBlock::PathFor(qEnvironmentVariable("DISPLAY"), data.path()));
        hookForm->FormCreate(true);
        ASSERT_TRUE(hookForm->HookInstalled());
        hookForm->setPointerHandler([this](QPoint point) {
            handled = point;
            bar->HandlePointerNotify(point);
        });
        // The bar answers only with the browser in front: on a busy machine the window manager
        // may not have given it the focus yet.
        ASSERT_TRUE(waitUntil([&] {
            XSetInputFocus(display, access.FindBrowserFrame().window, RevertToParent, CurrentTime);
            XSync(display, False);
            return access.ClassifyPointerWindow({0, 0}).browserInFront;
        })) << "the browser never came in front";
    }

    /// Moves the pointer to a point and waits until the bar has handled a notification there
    /// and, when it asks the browser (the pointer over a page with the browser in front, not
    /// over the bar), until the answer has come.
    ::testing::AssertionResult pointAt(QPoint point, bool asksBrowser = true)
    {
        // A pointer there already is moved there again: each call hears a notification of its
        // own, and the browser's answer to it.
        handled.reset();
        answered.reset();
        if (waitUntil([&] {
                if (handled != point) {
                    movePointer(point + QPoint(1, 1));
                    movePointer(point);
                    return false;
                }
                return !asksBrowser || answered == point;
            }))
            return ::testing::AssertionSuccess();
        const auto said = [](const std::optional<QPoint>& place) {
            return place ? std::to_string(place->x()) + ',' + std::to_string(place->y())
                         : std::string("nothing");
        };
        return ::testing::AssertionFailure() << "the watch last told of " << said(handled)
                                             << ", the browser answered about " << said(answered)
                                             << (access.ClassifyPointerWindow(point).browserInFront
                                                     ? "; the browser is in front"
                                                     : "; the browser is not in front");
    }
    /// Points at `place`, coming from `away` (the page's background), until the bar shows over
    /// its movie: the session's first answers on a page may come before it is ready there, when
    /// a hand would move again.
    ::testing::AssertionResult barShowsAt(QPoint place, QPoint away = {700, 600})
    {
        if (waitUntil(
                [&] {
                    return pointAt(away) && pointAt(place) &&
                           waitUntil([&] { return bar->isVisible(); }, 3000);
                },
                90000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "no bar came up: the browser last answered " << qPrintable(answeredMovie);
    }
    /// The entry of the bar's menu with this caption.
    QAction* menuEntry(const QString& caption) const
    {
        for (QAction* entry : bar->categoryMenu()->actions()) {
            if (!entry->isSeparator() && entry->data().toString() == caption)
                return entry;
        }
        return nullptr;
    }
    /// The item of an address once its download has ended, or none.
    std::optional<ItemRecord> downloaded(const QString& url) const
    {
        const int index = app->catalogue().FindItemByUrl(url);
        if (index < 0 || app->catalogue().item(index).state() != ItemState::Downloaded)
            return std::nullopt;
        return app->catalogue().item(index);
    }

    QTemporaryDir data;
    OptionsRecord options = DefaultOptions();
    ScriptedPrompt prompt;
    ScriptedDialogs dialogs;
    std::unique_ptr<Vault> app;
    DevToolsSession session;
    std::unique_ptr<Tvaultbar> bar;
    std::unique_ptr<PointerHook> hook;
    std::unique_ptr<THookappForm> hookForm;
    std::optional<QPoint> handled;
    std::optional<QPoint> answered;
    QString answeredMovie; ///< what the browser's last answer said, for a failure's message
};

} // namespace

TEST_F(BrowserAccessTest, FindsTheMoviesUnderThePointerAsThePageWroteThem)
{
    const BrowserWindow window = access.FindBrowserFrame();
    EXPECT_NE(window.window, 0u);
    EXPECT_TRUE(X11BrowserAccess::isBrowserClass(window.wmClass));
    EXPECT_GT(window.browser.port, 0);

    EXPECT_EQ(moviesDownColumn(100), (QStringList{"a.swf", "/movies/b.swf?x=1", "ruffled.swf"}))
        << "the PDF object and the page background hold no movie";
    movePointer({700, 400});
    EXPECT_FALSE(movieAt({700, 400}));

    // Scrolled by 130 CSS pixels, the embed is off the top and the object moved up.
    evaluate(QStringLiteral("window.scrollTo(0, 130)"));
    ASSERT_TRUE(
        waitUntil([&] { return evaluate(QStringLiteral("window.scrollY")).toInt() == 130; }));
    // The embed's place is free once the page has drawn itself scrolled.
    ASSERT_TRUE(waitUntil([&] {
        const auto movie = movieAt({100, 100});
        return !movie || movie->address != u"a.swf";
    }));
    EXPECT_EQ(moviesDownColumn(100), (QStringList{"/movies/b.swf?x=1", "ruffled.swf"}));
}

TEST_F(BrowserAccessTest, PausingUsesRufflesApiAndTheCommandLineSeesWhatTheProgramSees)
{
    // Find the Ruffle element's place by walking down, then pause it there.
    const std::optional<QPoint> ruffled = placeOf(u"ruffled.swf");
    ASSERT_TRUE(ruffled);
    EXPECT_FALSE(evaluate(QStringLiteral("window.paused")).toBool());
    EXPECT_TRUE(probe.pauseAt(port(), *ruffled));
    EXPECT_TRUE(evaluate(QStringLiteral("window.paused")).toBool());
    EXPECT_TRUE(probe.pauseAt(port(), QPoint(100, 200)))
        << "a movie without Ruffle: nothing happens, no error";

    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    EXPECT_EQ(RunCli({QStringLiteral("browser"), QStringLiteral("at"),
                      QString::number(ruffled->x()), QString::number(ruffled->y())},
                     outStream, errStream),
              0);
    outStream.flush();
    EXPECT_TRUE(out.startsWith(QStringLiteral("ruffled.swf\n"))) << qPrintable(out);
    EXPECT_EQ(RunCli({QStringLiteral("browser"), QStringLiteral("status")}, outStream, errStream),
              0);
    outStream.flush();
    EXPECT_TRUE(out.contains(QStringLiteral("visible tab: ") +
                             QString::fromStdString(server.url("/flash.html"))));
}

TEST_F(BrowserAccessTest, ThePointerWindowIsOursOrABrowsersPageOrElsewhere)
{
    const PointerScene overPage = access.ClassifyPointerWindow({700, 400});
    EXPECT_EQ(overPage.over, PointerScene::Over::BrowserPage);
    EXPECT_EQ(overPage.browser.port, port());
    EXPECT_EQ(access.ClassifyPointerWindow({1200, 780}).over, PointerScene::Over::Elsewhere)
        << "the desktop beside the browser";

    // A window of this program over the browser: the bar may stay.
    QWidget ours;
    ours.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    ours.setGeometry(600, 500, 120, 40);
    ours.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ours));
    EXPECT_TRUE(waitUntil([&] {
        return access.ClassifyPointerWindow({650, 520}).over == PointerScene::Over::OwnWindow;
    }));
}

TEST_F(BrowserAccessTest, TheAddressFollowsNavigationAndALoadingPageGivesNothing)
{
    EXPECT_TRUE(navigate("/other.html"));
    ASSERT_TRUE(navigate("/slow.html"));
    // Its movie went out to the browser already; the page never finishes loading.
    ASSERT_TRUE(waitUntil([&] { return slowHeadSent.load(); })) << "the slow page was never served";
    for (int y = 150; y < 400; y += 50) {
        movePointer({120, y});
        EXPECT_FALSE(movieAt({120, y})) << "the page is still loading";
    }
}

TEST_F(BrowserAccessTest, ACoveredBrowserStillGivesTheTabTheUserLastLookedAt)
{
    // Clip Vault's own window over the whole screen, in front, as it starts maximized.
    QWidget ours;
    ours.setGeometry(0, 0, 1280, 800);
    ours.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ours));
    ASSERT_TRUE(waitUntil([&] {
        ours.activateWindow();
        return !access.ClassifyPointerWindow({0, 0}).browserInFront;
    }));
    if (!waitUntil([&] {
            return evaluate(QStringLiteral("document.visibilityState")).toString() == u"hidden";
        }))
        GTEST_SKIP() << "this browser does not call a covered tab hidden";
    EXPECT_EQ(addressBarText(), QString::fromStdString(server.url("/flash.html")));
}

TEST(DebuggingPort, ComesFromTheCommandLineOrTheActivePortFile)
{
    EXPECT_EQ(DebuggingPortFromCommandLine(
                  {QStringLiteral("chromium"), QStringLiteral("--remote-debugging-port=9222")}),
              9222);
    QTemporaryDir profile;
    QFile active(QDir(profile.path()).filePath(QStringLiteral("DevToolsActivePort")));
    ASSERT_TRUE(active.open(QIODevice::WriteOnly));
    active.write("41234\n/devtools/browser/abc\n");
    active.close();
    EXPECT_EQ(DebuggingPortFromCommandLine({QStringLiteral("--remote-debugging-port=0"),
                                            QStringLiteral("--user-data-dir=") + profile.path()}),
              41234);
    EXPECT_EQ(DebuggingPortFromCommandLine({QStringLiteral("chromium")}), 0);
    // A FIFO under the name, as another user's or a hostile program's profile may hold: no
    // port, and no wait for a writer that never comes.
    QTemporaryDir hostile;
    ASSERT_EQ(::mkfifo(QFile::encodeName(
                           QDir(hostile.path()).filePath(QStringLiteral("DevToolsActivePort")))
                           .constData(),
                       0600),
              0);
    EXPECT_EQ(DebuggingPortFromCommandLine({QStringLiteral("--remote-debugging-port=0"),
                                            QStringLiteral("--user-data-dir=") + hostile.path()}),
              0);
}

TEST(BrowserCommands, AStaleActiveWindowEndsNoQuery)
{
    // The active window property still names a window that has closed, as it does for a moment
    // after a window goes. The command-line tool, which has no X error handler of Qt's, asks.
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window root = DefaultRootWindow(display);
    const Window gone = XCreateSimpleWindow(display, root, 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(display, gone);
    XChangeProperty(display, root, XInternAtom(display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&gone), 1);
    XSync(display, False);

    // Each ends with its own answer: no browser window here, nothing under the point.
    const std::pair<QStringList, QString> commands[] = {
        {{"browser", "status"}, "browser window: none"},
        {{"browser", "at", "5", "5"}, "no Flash movie under 5,5"}};
    for (const auto& [arguments, answer] : commands) {
        QProcess cli;
        cli.start(QStringLiteral(CLIPVAULT_CLI), arguments);
        ASSERT_TRUE(cli.waitForFinished(60000)) << qPrintable(arguments.join(u' '));
        const QString said =
            QString::fromLocal8Bit(cli.readAllStandardOutput() + cli.readAllStandardError());
        EXPECT_FALSE(said.contains(QStringLiteral("X Error"))) << qPrintable(said);
        EXPECT_TRUE(said.contains(answer)) << qPrintable(said);
    }
    XCloseDisplay(display);

    // On a Wayland desktop no point of the screen can be asked about: it says so.
    QProcess onWayland;
    QProcessEnvironment wayland = QProcessEnvironment::systemEnvironment();
    wayland.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
    onWayland.setProcessEnvironment(wayland);
    onWayland.start(QStringLiteral(CLIPVAULT_CLI), {"browser", "at", "5", "5"});
    ASSERT_TRUE(onWayland.waitForFinished(60000));
    EXPECT_EQ(onWayland.exitCode(), 1);
    EXPECT_TRUE(onWayland.readAllStandardError().contains("Wayland desktop gives no program"));
}

TEST_F(ShortcutBarTest, ComesUpOnTheMovieStaysOverItselfAndFilesTheMovie)
{
    const QPoint overEmbed(100, 200);
    ASSERT_TRUE(barShowsAt(overEmbed));
    const std::optional<MovieAtPoint> movie = movieAt(overEmbed);
    ASSERT_TRUE(movie);
    // The window manager's first report of a new window may give its frame's origin (0,0): the
    // place is read once the reports settled.
    const QPoint corner = movie->screenRect.topLeft() + QPoint(15, 15);
    EXPECT_TRUE(waitUntil([&] { return bar->pos() == corner; }))
        << bar->pos().x() << ',' << bar->pos().y();
    // The command line places the movie where the bar does, to the pixel (asked beside the bar,
    // which is a window of ours).
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    ASSERT_EQ(RunCli({"browser", "at", "180", "200", "--json"}, outStream, errStream), 0)
        << qPrintable(err);
    outStream.flush();
    const QJsonObject told = QJsonDocument::fromJson(out.toUtf8()).object();
    EXPECT_EQ(bar->pos(),
              QPoint(told.value("left").toInt(), told.value("top").toInt()) + Tvaultbar::kOffset)
        << qPrintable(out);
    EXPECT_EQ(bar->size(), QSize(74, 26));
    EXPECT_EQ(bar->MovieUrl(), QStringLiteral("a.swf"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(bar.get()));
    EXPECT_TRUE(access.ClassifyPointerWindow(overEmbed).browserInFront) << "the bar took the focus";

    // Onto the bar, then its open menu: it stays.
    ASSERT_TRUE(pointAt(bar->geometry().center(), false));
    EXPECT_TRUE(bar->isVisible());
    bar->btnSaveCatClick();
    QMenu* menu = bar->categoryMenu();
    ASSERT_TRUE(waitUntil([&] { return menu->isVisible(); }));
    EXPECT_EQ(menu->pos(), bar->mapToGlobal(QPoint(19, 24))) << "just below the save button";
    QStringList entries;
    for (QAction* entry : menu->actions())
        entries << (entry->isSeparator() ? QStringLiteral("-") : entry->data().toString());
    EXPECT_EQ(entries.first(), QStringLiteral("Downloaded"));
    EXPECT_EQ(entries.count(QStringLiteral("Downloaded")), 1);
    EXPECT_TRUE(entries.contains(QStringLiteral("Arcade")));
    EXPECT_EQ(entries.mid(entries.size() - 2), (QStringList{"-", "Save to ..."}));
    ASSERT_TRUE(pointAt(menu->geometry().center(), false));
    EXPECT_TRUE(bar->isVisible());

    // Filed under "Arcade" and downloaded there; the log written at the end holds it.
    menuEntry(QStringLiteral("Arcade"))->trigger();
    menu->hide();
    const QString url = QString::fromStdString(server.url("/a.swf"));
    ASSERT_TRUE(waitUntil([&] { return downloaded(url).has_value(); }))
        << "the movie was not downloaded";
    EXPECT_EQ(FieldText(downloaded(url)->Category), QStringLiteral("Arcade"));
    EXPECT_TRUE(QFile::exists(QDir(data.path()).filePath(QStringLiteral("Arcade/a.swf"))));
    ASSERT_TRUE(app->saveCatalogue());
    Catalogue reread(prompt, options);
    CatalogueStore(data.path()).LoadItems(reread);
    const int saved = reread.FindItemByUrl(url);
    ASSERT_GE(saved, 0);
    EXPECT_EQ(reread.item(saved).state(), ItemState::Downloaded);

    // The page background hides it.
    ASSERT_TRUE(pointAt({700, 400}));
    EXPECT_TRUE(waitUntil([&] { return bar->isHidden(); }));
}

TEST_F(ShortcutBarTest, PausesARuffleMovieAndSavesToAChosenFile)
{
    const std::optional<QPoint> ruffled = placeOf(u"ruffled.swf");
    ASSERT_TRUE(ruffled);
    ASSERT_TRUE(barShowsAt(*ruffled, {700, 400}));
    EXPECT_EQ(bar->MovieUrl(), QStringLiteral("ruffled.swf"));
    EXPECT_TRUE(waitUntil([&] { return evaluate(QStringLiteral("window.paused")).toBool(); }))
        << "the pause option stops the movie through Ruffle's API";

    dialogs.movieSaveFile = QDir(data.path()).filePath(QStringLiteral("chosen/kept.swf"));
    QDir().mkpath(QDir(data.path()).filePath(QStringLiteral("chosen")));
    bar->btnSaveCatClick();
    menuEntry(QStringLiteral("Save to ..."))->trigger();
    bar->categoryMenu()->hide();
    EXPECT_EQ(dialogs.opened, QStringList{"save movie"});
    const QString url = QString::fromStdString(server.url("/ruffled.swf"));
    ASSERT_TRUE(waitUntil([&] { return downloaded(url).has_value(); }));
    EXPECT_EQ(FieldText(downloaded(url)->Category), QStringLiteral("Downloaded"));
    EXPECT_TRUE(QFile::exists(dialogs.movieSaveFile));

    ASSERT_TRUE(pointAt({700, 400}));
    ASSERT_TRUE(waitUntil([&] { return bar->isHidden(); }));
    EXPECT_TRUE(evaluate(QStringLiteral("window.paused")).toBool()) << "it is not started again";
}

TEST_F(ShortcutBarTest, GoesWhenAnotherWindowComesInFrontThePageNavigatesOrItIsSwitchedOff)
{
    // Another program's window takes the focus, the pointer resting on the movie.
    ASSERT_TRUE(pointAt({100, 200}));
    ASSERT_TRUE(waitUntil([&] { return bar->isVisible(); }));
    const Window other = XCreateSimpleWindow(display, DefaultRootWindow(display), 600, 500, 200,
                                             100, 0, 0, 0xffffff);
    XMapRaised(display, other);
    XSync(display, False);
    ASSERT_TRUE(waitUntil([&] {
        XSetInputFocus(display, other, RevertToParent, CurrentTime);
        XSync(display, False);
        return !access.ClassifyPointerWindow({0, 0}).browserInFront;
    }));
    EXPECT_TRUE(waitUntil([&] { return bar->isHidden(); })) << "it floated over the other window";
    ASSERT_TRUE(pointAt({100, 230}, false));
    EXPECT_TRUE(bar->isHidden()) << "with another window in front the pointer changes nothing";
    XDestroyWindow(display, other);
    XSync(display, False);

    // Back in the browser (the window manager may hand the focus on once more as the other
    // window goes: it is given to the browser until the bar is up): the page goes elsewhere
    // under the resting pointer.
    QElapsedTimer sinceMove;
    ASSERT_TRUE(waitUntil([&] {
        if (!sinceMove.isValid() || sinceMove.elapsed() > 500) {
            XSetInputFocus(display, access.FindBrowserFrame().window, RevertToParent, CurrentTime);
            movePointer({101, 201});
            movePointer({100, 200});
            sinceMove.start();
        }
        return bar->isVisible();
    }));
    ASSERT_TRUE(navigate("/other.html"));
    EXPECT_TRUE(waitUntil([&] { return bar->isHidden(); })) << "it kept the old page's movie";

    // Switched off while it shows.
    ASSERT_TRUE(navigate("/flash.html"));
    ASSERT_TRUE(pointAt({100, 230}));
    ASSERT_TRUE(waitUntil([&] { return bar->isVisible(); }));
    OptionsRecord off = app->options();
    off.ShortcutBarEnabled = 0;
    app->setOptions(off);
    EXPECT_TRUE(waitUntil([&] { return bar->isHidden(); }));
}

TEST_F(ShortcutBarTest, AMessageBoxGivesTheKeyboardBackToTheBrowser)
{
    ASSERT_TRUE(access.ClassifyPointerWindow({0, 0}).browserInFront);
    const std::unique_ptr<WindowFocus> focus = platform::createWindowFocus();
    MessageBoxPrompt boxes;
    boxes.setWindowFocus(focus.get());
    boxes.notify(QStringLiteral("m.swf save complete!"), QStringLiteral("Information"));
    QWidget* box = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible() && qobject_cast<QMessageBox*>(window))
                box = window;
        return box && !access.ClassifyPointerWindow({0, 0}).browserInFront;
    })) << "the box never took the keyboard";
    box->close();
    EXPECT_TRUE(waitUntil([&] {
        return access.ClassifyPointerWindow({0, 0}).browserInFront;
    })) << "the browser needs a click before the next movie";
}

TEST_F(ShortcutBarTest, TheTabsMoviesAreListedAndTheBarComesUpOverEachOfThem)
{
    ASSERT_TRUE(navigate("/tab.html"));
    const QString here = QString::fromStdString(server.url("/"));
    const QString other = QStringLiteral("http://localhost:%1/").arg(server.port());
    const QMap<QString, QString> expected{{here + "added.swf", "element"},
                                          {here + "fetched.swf", "network"},
                                          {here + "played.swf", "ruffle"},
                                          {other + "framed.swf", "element"}};
    QJsonArray listed;
    ASSERT_TRUE(waitUntil(
        [&] {
            QString out;
            QString err;
            QTextStream outStream(&out);
            QTextStream errStream(&err);
            RunCli({"browser", "movies", "--json"}, outStream, errStream);
            outStream.flush();
            listed = QJsonDocument::fromJson(out.toUtf8()).array();
            return listed.size() >= expected.size();
        },
        60000))
        << "the tab's movies: " << qPrintable(QJsonDocument(listed).toJson());
    for (const QJsonValue& value : listed) {
        const QJsonObject movie = value.toObject();
        const QString url = movie.value("url").toString();
        ASSERT_TRUE(expected.contains(url)) << qPrintable(url);
        EXPECT_TRUE(movie.value("seenAs").toArray().contains(expected.value(url)))
            << qPrintable(url) << " " << qPrintable(QJsonDocument(movie).toJson());
        EXPECT_EQ(movie.value("frame").toString(), url.startsWith(other)
                                                       ? QString(other + "framed.html")
                                                       : QString(here + "tab.html"));
    }
    // The browser keeps its own copy of what the tab fetched, for a site that is gone later.
    EXPECT_EQ(probe.loadedMovie(port(), here + "fetched.swf"), WriteSwf(SwfMovie()));

    // The bar over each movie on the page, the one in the other site's frame included; that one
    // is filed under its own site's address.
    for (const char* name : {"added.swf", "played.swf", "framed.swf"}) {
        const std::optional<QPoint> place = placeOf(QString::fromLatin1(name));
        ASSERT_TRUE(place) << name << " is not found under the pointer";
        ASSERT_TRUE(pointAt({700, 600}));
        ASSERT_TRUE(waitUntil([&] { return bar->isHidden(); })) << "the page background";
        ASSERT_TRUE(barShowsAt(*place)) << name;
        EXPECT_EQ(bar->MovieUrl(), QLatin1String(name));
    }
    bar->btnSaveCatClick();
    menuEntry(QStringLiteral("Arcade"))->trigger();
    bar->categoryMenu()->hide();
    EXPECT_GE(app->catalogue().FindItemByUrl(other + "framed.swf"), 0);
}

TEST_F(ShortcutBarTest, PausesAMovieThatRufflePlaysInThePage)
{
    ASSERT_TRUE(navigate("/polyfilled.html"));
    const auto playing = [&] {
        return evaluate(QStringLiteral(
                            "(() => { const p = document.querySelector('ruffle-embed');"
                            " return p && p.ruffle ? (p.ruffle().suspended ? 'paused' : 'playing')"
                            " : 'none'; })()"))
            .toString();
    };
    ASSERT_TRUE(waitUntil([&] { return playing() == u"playing"; }, 60000))
        << "Ruffle never took the movie over: " << qPrintable(playing());
    const std::optional<QPoint> played = placeOf(u"played.swf");
    ASSERT_TRUE(played) << "the movie Ruffle plays is not found under the pointer";
    ASSERT_TRUE(barShowsAt(*played));
    EXPECT_EQ(bar->MovieUrl(), QStringLiteral("played.swf"));
    EXPECT_TRUE(waitUntil([&] { return playing() == u"paused"; })) << qPrintable(playing());
    ASSERT_TRUE(pointAt({700, 600}));
    ASSERT_TRUE(waitUntil([&] { return bar->isHidden(); }));
    EXPECT_EQ(playing(), QStringLiteral("paused")) << "it is not started again";
}

namespace {

/// The browser companion in the test's own Chromium: the extension loaded from the build, its
/// host found through the manifest `browser connect` writes into the browser's profile, and the
/// program's side (the vault, its single-instance socket and the companion's bars) started only
/// once the browser is up, as a user starts Clip Vault after the browser.
class CompanionBarTest : public BrowserAccessTest
{
protected:
    QStringList browserArguments() const override
    {
        return {QStringLiteral("--load-extension=" CLIPVAULT_EXTENSION_DIR)};
    }
    void prepareBrowser(QProcessEnvironment& environment) override
    {
        program.connectBrowser(QStringLiteral("chromium"), profile.path(), environment);
    }

    /// Whether the bar's red face shows at its place over a movie whose top-left corner on the
    /// screen is `corner`: read from the screen, as the user sees it, frames of other sites
    /// included.
    bool barShownOver(QPoint corner)
    {
        const QPoint barCorner = corner + QPoint(15, 15);
        const QRect area(barCorner - QPoint(8, 8), QSize(40, 40));
        XImage* image = XGetImage(display, DefaultRootWindow(display), area.x(), area.y(),
                                  area.width(), area.height(), AllPlanes, ZPixmap);
        if (!image)
            return false;
        QImage shot(area.size(), QImage::Format_RGB32);
        for (int y = 0; y < area.height(); ++y) {
            for (int x = 0; x < area.width(); ++x)
                shot.setPixel(x, y, static_cast<QRgb>(XGetPixel(image, x, y)) | 0xff000000u);
        }
        XDestroyImage(image);
        return BarFaceAt(shot, barCorner - area.topLeft());
    }
    /// What the page shows of the bar and where the page lies, for a failure's message.
    std::string barSeen()
    {
        return evaluate(QStringLiteral(R"((() => {
            const bar = document.querySelector("clipvault-bar");
            const place = bar ? JSON.stringify(bar.getBoundingClientRect()) : "no bar";
            return place + "; window at " + [screenX, screenY, outerWidth - innerWidth,
                                             outerHeight - innerHeight].join(" ");
          })())"))
                   .toString()
                   .toStdString() +
               (program.links.isConnected() ? "; the companion is connected"
                                            : "; the companion is not connected");
    }
    /// Moves the pointer over the movie at `place` until the bar shows over it.
    bool barComesUp(QPoint place, QPoint corner)
    {
        return waitUntil(
            [&] {
                movePointer(place + QPoint(1, 1));
                movePointer(place);
                return barShownOver(corner);
            },
            30000);
    }
    void click(QPoint point)
    {
        movePointer(point);
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XSync(display, False);
    }
    /// Clicks the bar's first button over the movie whose corner is `corner`, and waits until the
    /// keyboard is the menu's, as a user's hand does: in the page's own document, the bar has it;
    /// in a frame of another site (`frame`, its id), the frame has it.
    bool openMenu(QPoint corner, const QString& frame = {})
    {
        click(corner + QPoint(15 + 30, 15 + 14));
        const QString focused = frame.isEmpty() ? QStringLiteral("document.activeElement.localName")
                                                : QStringLiteral("document.activeElement.id");
        const QString expected = frame.isEmpty() ? QStringLiteral("clipvault-bar") : frame;
        return waitUntil([&] { return evaluate(focused).toString() == expected; });
    }
    void press(KeySym key)
    {
        const KeyCode code = XKeysymToKeycode(display, key);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        XSync(display, False);
    }
    std::optional<ItemRecord> downloaded(const QString& url) const
    {
        return program.downloaded(url);
    }
    /// The visible tab's movies as its companion answers; nothing when it did not.
    std::optional<QList<TabMovie>> tabMovies()
    {
        QObject context;
        std::optional<QList<TabMovie>> movies;
        links.findTabMovies(&context, [&](const QList<TabMovie>& found) { movies = found; });
        (void)waitUntil([&] { return movies.has_value(); });
        return movies;
    }

    CompanionProgram program;
    ScriptedDialogs& dialogs = program.dialogs;
    CompanionLinks& links = program.links;
    std::unique_ptr<Vault>& app = program.app;
    QTemporaryDir& data = program.data;
};

} // namespace

TEST_F(CompanionBarTest, FilesAMovieOfAnotherSitesFrameWithTheKeyboardAndNeverThePagesOwnEvents)
{
    ASSERT_TRUE(navigate("/tab.html"));
    ASSERT_NO_FATAL_FAILURE(program.start());
    const std::optional<QPoint> inFrame = placeOf(u"framed.swf");
    ASSERT_TRUE(inFrame);
    const std::optional<MovieAtPoint> movie = movieAt(*inFrame);
    ASSERT_TRUE(movie);
    // The answer names the page it is filed under beside the frame's own document.
    EXPECT_EQ(movie->pageUrl, QString::fromStdString(server.url("/tab.html")));
    EXPECT_NE(movie->frameUrl, movie->pageUrl);
    const QPoint corner = movie->screenRect.topLeft();
    ASSERT_TRUE(barComesUp(*inFrame, corner))
        << "no bar came up over the frame's movie; " << barSeen();

    // Its first button, Down and Enter: "Downloaded", filed under the frame's own site. The keys
    // wait for the browser to give the keyboard to the frame the click went to, as a user's
    // hand does.
    ASSERT_TRUE(openMenu(corner, QStringLiteral("frame")));
    press(XK_Down);
    press(XK_Return);
    const QString url = QStringLiteral("http://localhost:%1/framed.swf").arg(server.port());
    ASSERT_TRUE(waitUntil([&] { return downloaded(url).has_value(); }))
        << "the movie was not filed and downloaded: " << qPrintable(program.itemsText());
    EXPECT_EQ(FieldText(downloaded(url)->Category), QStringLiteral("Downloaded"));

    // The page's own script shows no bar and presses none, even one the user brought up.
    const std::optional<QPoint> added = placeOf(u"added.swf");
    ASSERT_TRUE(added);
    const QPoint addedCorner = movieAt(*added)->screenRect.topLeft();
    movePointer({700, 600});
    ASSERT_TRUE(waitUntil([&] { return !barShownOver(addedCorner); }));
    EXPECT_TRUE(evaluate(QStringLiteral(R"((() => {
        const slot = document.querySelector("embed").getBoundingClientRect();
        document.dispatchEvent(new PointerEvent("pointermove", {clientX: slot.left + 5,
            clientY: slot.top + 5, bubbles: true}));
        return document.querySelector("clipvault-bar") === null;
      })())"))
                    .toBool());
    ASSERT_TRUE(barComesUp(*added, addedCorner)) << barSeen();
    EXPECT_TRUE(evaluate(QStringLiteral(R"((() => {
        const bar = document.querySelector("clipvault-bar");
        bar.click();
        bar.dispatchEvent(new KeyboardEvent("keydown", {key: "Enter", bubbles: true}));
        return bar.shadowRoot === null;
      })())"))
                    .toBool())
        << "the bar's inside is closed to the page";
    // A choice the user makes after reaches the program after anything the page sent.
    ASSERT_TRUE(openMenu(addedCorner));
    press(XK_Down);
    press(XK_Return);
    const QString addedUrl = QString::fromStdString(server.url("/added.swf"));
    ASSERT_TRUE(waitUntil([&] { return downloaded(addedUrl).has_value(); }));
    EXPECT_EQ(app->catalogue().itemCount(), 2) << "the page's events filed nothing";

    // The command line names the connected companion, asking the running program.
    QProcess status;
    status.start(QStringLiteral(CLIPVAULT_CLI),
                 {QStringLiteral("--data-dir"), data.path(), QStringLiteral("browser"),
                  QStringLiteral("status")});
    ASSERT_TRUE(waitUntil([&] { return status.state() == QProcess::NotRunning; }));
    const QString said = QString::fromUtf8(status.readAllStandardOutput());
    EXPECT_TRUE(said.contains(QStringLiteral("browser companion: chromium ")) &&
                said.contains(QStringLiteral(", connected to Clip Vault")))
        << qPrintable(said);
}

TEST_F(CompanionBarTest, ComesUpOverARufflePlayerAddedByScriptAndSavesToAChosenFile)
{
    ASSERT_TRUE(navigate("/tab.html"));
    ASSERT_NO_FATAL_FAILURE(program.start());
    const std::optional<QPoint> played = placeOf(u"played.swf");
    ASSERT_TRUE(played);
    const QPoint corner = movieAt(*played)->screenRect.topLeft();
    ASSERT_TRUE(barComesUp(*played, corner)) << barSeen();
    // 15 pixels right of and below the player's corner, in the page's own terms too.
    EXPECT_EQ(evaluate(QStringLiteral(R"((() => {
        const bar = document.querySelector("clipvault-bar").getBoundingClientRect();
        const player = document.querySelector("#host > *").getBoundingClientRect();
        return [bar.left - player.left, bar.top - player.top, bar.width, bar.height].join(" ");
      })())"))
                  .toString(),
              QStringLiteral("15 15 74 26"));

    // Straight from the movie onto another window (here one over the movie's lower right), the
    // bar goes; back over the movie, it comes again.
    XSetWindowAttributes above{};
    above.override_redirect = True;
    above.background_pixel = WhitePixel(display, DefaultScreen(display));
    const Window other = XCreateWindow(display, DefaultRootWindow(display), corner.x() + 120,
                                       corner.y() + 50, 60, 40, 0, CopyFromParent, InputOutput,
                                       CopyFromParent, CWOverrideRedirect | CWBackPixel, &above);
    XMapRaised(display, other);
    XSync(display, False);
    movePointer(corner + QPoint(130, 60));
    EXPECT_TRUE(waitUntil([&] { return !barShownOver(corner); }))
        << "the bar stayed when the pointer left the browser";
    XDestroyWindow(display, other);
    XSync(display, False);
    ASSERT_TRUE(barComesUp(*played, corner)) << barSeen();

    // Up from an unchosen menu is its last entry, "Save to ...".
    dialogs.movieSaveFile = QDir(data.path()).filePath(QStringLiteral("mine.swf"));
    ASSERT_TRUE(openMenu(corner));
    press(XK_Up);
    press(XK_Return);
    const QString url = QString::fromStdString(server.url("/played.swf"));
    ASSERT_TRUE(waitUntil([&] { return downloaded(url).has_value(); }));
    EXPECT_TRUE(dialogs.opened.contains(QStringLiteral("save movie")));
    EXPECT_TRUE(QFile::exists(dialogs.movieSaveFile));

    // The visible tab's movies as its companion sees them: every frame's, and what it fetched.
    const std::optional<QList<TabMovie>> movies = tabMovies();
    ASSERT_TRUE(movies.has_value());
    QStringList seen;
    for (const TabMovie& movie : *movies)
        seen << movie.url.section(u'/', -1) + u' ' + movie.seenAs.first();
    seen.sort();
    EXPECT_EQ(seen, QStringList({"added.swf element", "fetched.swf network", "framed.swf element",
                                 "played.swf ruffle"}))
        << qPrintable(seen.join(u'|'));
}

TEST_F(CompanionBarTest, APageCannotHideMoveOrReadTheBarNorChooseForTheUser)
{
    ASSERT_TRUE(navigate("/hostile.html"));
    ASSERT_NO_FATAL_FAILURE(program.start());
    const std::optional<QPoint> place = placeOf(u"target.swf");
    ASSERT_TRUE(place);
    const QPoint corner = movieAt(*place)->screenRect.topLeft();
    // The page's important rules neither hide it nor move it: red, at its place.
    ASSERT_TRUE(barComesUp(*place, corner))
        << "the page's style hid or moved the bar; " << barSeen();

    // A double-click: the first opens the menu, the second lands on its first entry at once,
    // sooner than anyone reads it. It files nothing.
    click(corner + QPoint(15 + 30, 15 + 14));
    click(corner + QPoint(15 + 60, 15 + 38));
    press(XK_Escape);
    // The menu's words are no text of the page: no find reaches them.
    ASSERT_TRUE(openMenu(corner));
    EXPECT_FALSE(evaluate(QStringLiteral("window.find('Downloaded')")).toBool());
    EXPECT_FALSE(evaluate(QStringLiteral("window.find('Save to')")).toBool());

    // The user's own choice after it is the one that counts.
    dialogs.movieSaveFile = QDir(data.path()).filePath(QStringLiteral("mine.swf"));
    press(XK_Up);
    press(XK_Return);
    const QString url = QString::fromStdString(server.url("/target.swf"));
    ASSERT_TRUE(waitUntil([&] { return downloaded(url).has_value(); }));
    EXPECT_EQ(ItemFilePath(*downloaded(url)), dialogs.movieSaveFile)
        << "the double-click filed it first";
    EXPECT_EQ(app->catalogue().itemCount(), 1);
}

TEST_F(CompanionBarTest, TheBrowsersCopyOfAMovieComesInPiecesAndStopsAt256MiB)
{
    ASSERT_TRUE(navigate("/hostile.html"));
    ASSERT_NO_FATAL_FAILURE(program.start());
    const QString target = QDir(data.path()).filePath(QStringLiteral("endless.swf"));
    const QString url = QString::fromStdString(server.url("/endless.swf"));
    // Only a movie of the tab is copied: it is there once the companion lists it.
    ASSERT_TRUE(waitUntil([&] {
        const std::optional<QList<TabMovie>> movies = tabMovies();
        return movies && std::any_of(movies->cbegin(), movies->cend(),
                                     [&](const TabMovie& movie) { return movie.url == url; });
    })) << "the companion never listed the movie";
    // Pieces are written as they come: the partial file grows while the server still sends.
    bool grewWhileSent = false;
    const auto partialSize = [&] {
        qint64 size = 0;
        for (const QFileInfo& part :
             QDir(data.path()).entryInfoList({QStringLiteral("endless.swf.*.part")}))
            size += part.size();
        return size;
    };
    QObject context;
    std::optional<std::pair<bool, QString>> answer;
    links.saveMovie(url, target, &context, [&](bool saved, const QString& error) {
        answer = {saved, error};
    });
    ASSERT_TRUE(waitUntil(
        [&] {
            grewWhileSent = grewWhileSent || (!endlessClosed && partialSize() > 0);
            return answer.has_value();
        },
        240000))
        << "no answer; the server sent " << endlessSent.load();
    EXPECT_FALSE(answer->first);
    EXPECT_TRUE(answer->second.contains(QStringLiteral("larger than 256 MiB")))
        << qPrintable(answer->second);
    EXPECT_TRUE(grewWhileSent);
    ASSERT_TRUE(waitUntil([&] { return endlessClosed.load(); }));
    // What the browser's buffers and the sockets between took beyond the last piece.
    EXPECT_LE(endlessSent.load(), (qint64(256) << 20) + (qint64(32) << 20));
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_EQ(partialSize(), 0);
}
