// Firefox for real: Debian's Firefox ESR with WebDriver BiDi on a port of its own choosing, on
// this display with openbox, pointed at a page served here; the pointer is moved with XTest. The
// companion's test drives Firefox (installing the companion, loading the page, reading what it
// draws) over a BiDi session of its own: the program does not use one on that route.

#include "barface.h"
#include "bidi/bidiconnection.h"
#include "bidi/firefoxport.h"
#include "browsersessions.h"
#include "catalogue.h"
#include "clirun.h"
#include "vault.h"
#include "companionprogram.h"
#include "hookappform.h"
#include "options.h"
#include "platformfactory.h"
#include "moviepage.h"
#include "pointerhook.h"
#include "scripteddialogs.h"
#include "scriptedprompt.h"
#include "sharedblock.h"
#include "swfwriter.h"
#include "testserver.h"
#include "vaultbar.h"
#include "waituntil.h"
#include "x11/x11browseraccess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

// Xlib's macros clash with the headers above; it comes last.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

CliRun cli(const QStringList& arguments)
{
    return RunCliHere(arguments);
}

/// Debian's Firefox ESR on this display, in a profile of the test's own, and a page server:
/// the test is skipped where Firefox is not installed.
class FirefoxOnDisplay : public ::testing::Test
{
protected:
    void SetUp() override
    {
        firefox = QStandardPaths::findExecutable(QStringLiteral("firefox-esr"));
        if (firefox.isEmpty())
            GTEST_SKIP() << "Firefox ESR is not installed";
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
    }
    void TearDown() override
    {
        browser.kill();
        browser.waitForFinished();
        if (display)
            XCloseDisplay(display);
    }
    /// Whether the derived SetUp goes on after this one's.
    bool ready() const { return !IsSkipped() && !HasFatalFailure(); }

    QString firefox;
    Display* display = nullptr;
    TestServer server;
    QTemporaryDir profile;
    QProcess browser;
};

class FirefoxTest : public FirefoxOnDisplay
{
protected:
    void SetUp() override
    {
        FirefoxOnDisplay::SetUp();
        if (!ready())
            return;
        ServeMoviePage(server, "/movie.html", "<div style='height:60px'></div>");
        server.start();
        page = QString::fromStdString(server.url("/movie.html"));
        browser.start(firefox, {QStringLiteral("--remote-debugging-port"), QStringLiteral("0"),
                                QStringLiteral("--profile"), profile.path(),
                                QStringLiteral("--no-remote"), page});
        ASSERT_TRUE(browser.waitForStarted());
        ASSERT_TRUE(waitUntil(
            [&] {
                return cli({"browser", "status"}).out.contains("visible tab: " + page);
            },
            120000))
            << "Firefox did not come up with its BiDi port: "
            << qPrintable(cli({"browser", "status"}).out);
    }

    void movePointer(QPoint point)
    {
        XTestFakeMotionEvent(display, -1, point.x(), point.y(), CurrentTime);
        XSync(display, False);
    }

    /// A point over the movie, as the command line finds it down the page's first column.
    std::optional<QPoint> placeOfMovie()
    {
        for (int y = 60; y < 700; y += 20) {
            if (cli({"browser", "at", "100", QString::number(y)}).out.startsWith("movies/m.swf"))
                return QPoint(100, y);
        }
        return std::nullopt;
    }

    QString page;
};

} // namespace

TEST_F(FirefoxTest, TheCommandLineAndTheBarWorkWithFirefox)
{
    EXPECT_TRUE(cli({"browser", "status"}).out.contains("(Firefox, WebDriver BiDi)"));
    const std::optional<QPoint> place = placeOfMovie();
    ASSERT_TRUE(place) << "browser at found no movie";
    const CliRun movies = cli({"browser", "movies", "--json"});
    const QString movie = QString::fromStdString(server.url("/movies/m.swf"));
    EXPECT_EQ(cli({"browser", "at", "100", QString::number(place->y())}).out.section(u'\n', 2, 2),
              movie)
        << "the third line: the address the bar files";
    ASSERT_EQ(movies.code, 0) << qPrintable(movies.err);
    EXPECT_TRUE(QJsonDocument::fromJson(movies.out.toUtf8())
                    .array()
                    .contains(QJsonObject{
                        {"url", movie}, {"frame", page}, {"seenAs", QJsonArray{"element"}}}))
        << qPrintable(movies.out);

    // The bar on the real pointer watch, filing into a catalogue on a temporary data folder.
    QTemporaryDir data;
    ScriptedPrompt prompt;
    ScriptedDialogs dialogs;
    Vault app(data.path(), DefaultOptions(), prompt);
    app.open();
    X11BrowserAccess access;
    BrowserSessions session;
    Tvaultbar bar(app, access, session, dialogs);
    const std::unique_ptr<PointerHook> hook = platform::createPointerHook();
    THookappForm hookForm(*hook, prompt,
                          SharedBlock::PathFor(qEnvironmentVariable("DISPLAY"), data.path()));
    hookForm.FormCreate(true);
    hookForm.setPointerHandler([&](QPoint point) { bar.HandlePointerNotify(point); });
    ASSERT_TRUE(waitUntil([&] {
        XSetInputFocus(display, access.FindBrowserFrame().window, RevertToParent, CurrentTime);
        movePointer(*place + QPoint(1, 1));
        movePointer(*place);
        return bar.isVisible();
    })) << "the bar never came up over Firefox's movie";
    EXPECT_EQ(bar.MovieUrl(), QStringLiteral("movies/m.swf"));

    // Firefox allows one session, and the bar holds it now: the command line says so.
    const CliRun refused = cli({"browser", "status"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.err.contains("is connected to this Firefox")) << qPrintable(refused.err);

    bar.btnSaveCatClick();
    for (QAction* entry : bar.categoryMenu()->actions()) {
        if (entry->data().toString() == u"Downloaded")
            entry->trigger();
    }
    bar.categoryMenu()->hide();
    EXPECT_TRUE(waitUntil([&] {
        const int index = app.catalogue().FindItemByUrl(movie);
        return index >= 0 && app.catalogue().item(index).state() == ItemState::Downloaded;
    })) << "the movie was not filed and downloaded";
}

namespace {

/// Firefox with the companion installed as the user installs it for a while (a temporary
/// add-on), its host found through the manifests `browser connect` wrote into the test's home.
class FirefoxCompanionTest : public FirefoxOnDisplay
{
protected:
    void SetUp() override
    {
        FirefoxOnDisplay::SetUp();
        if (!ready())
            return;
        server.server().Get(
            "/page.html", [this](const httplib::Request&, httplib::Response& reply) {
                // The movie is in a frame of another site (localhost against the page's 127.0.0.1).
                const std::string frame =
                    "http://localhost:" + std::to_string(server.port()) + "/frame.html";
                reply.set_content("<body style='margin:0'><div style='height:60px'></div>"
                                  "<iframe src='" +
                                      frame +
                                      "' style='border:0;display:block;width:400px;"
                                      "height:300px'></iframe></body>",
                                  "text/html");
            });
        ServeMoviePage(server, "/frame.html", "");
        // A plain embed, sized by its attributes alone: with no Ruffle on the page, Firefox
        // gives it no box.
        server.server().Get("/bare.html", [](const httplib::Request&, httplib::Response& reply) {
            reply.set_content("<body style='margin:0'><div style='height:60px'></div><embed "
                              "src='movies/m.swf' type='application/x-shockwave-flash' "
                              "width='300' height='200'></body>",
                              "text/html");
        });
        server.start();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        ASSERT_NO_FATAL_FAILURE(
            program.connectBrowser(QStringLiteral("firefox"), QString(), environment));
        environment.insert(QStringLiteral("HOME"), program.home.path());
        browser.setProcessEnvironment(environment);
        browser.start(firefox, {QStringLiteral("--remote-debugging-port"), QStringLiteral("0"),
                                QStringLiteral("--profile"), profile.path(),
                                QStringLiteral("--no-remote"), QStringLiteral("about:blank")});
        ASSERT_TRUE(browser.waitForStarted());
        ASSERT_NO_FATAL_FAILURE(openDriver());
        ASSERT_TRUE(
            call(QStringLiteral("webExtension.install"),
                 {{QStringLiteral("extensionData"),
                   QJsonObject{{QStringLiteral("type"), QStringLiteral("path")},
                               {QStringLiteral("path"), QStringLiteral(CLIPVAULT_EXTENSION_DIR)}}}})
                .contains(QStringLiteral("extension")))
            << "Firefox did not install the companion: " << qPrintable(driver.lastError());
        const QJsonArray tabs = call(QStringLiteral("browsingContext.getTree"), {})
                                    .value(QStringLiteral("contexts"))
                                    .toArray();
        ASSERT_FALSE(tabs.isEmpty());
        tab = tabs.first().toObject().value(QStringLiteral("context")).toString();
    }

    void TearDown() override
    {
        driver.close();
        FirefoxOnDisplay::TearDown();
    }

    /// The test's own BiDi session, on the port Firefox chose (read again on every try: the
    /// file may name the port of a start Firefox has since left behind).
    void openDriver()
    {
        driver.setSubscriptions({});
        ASSERT_TRUE(waitUntil(
            [&] {
                const quint16 port = FirefoxPortFromCommandLine(
                    {QStringLiteral("--profile"), profile.path()}, QString());
                return port != 0 && driver.open(port) == BrowserConnection::State::Ready;
            },
            120000))
            << "no BiDi session with Firefox: " << qPrintable(driver.lastError());
    }

    QJsonObject call(const QString& method, const QJsonObject& params)
    {
        std::optional<QJsonObject> result;
        driver.call(method, params, [&](const QJsonObject& reply) { result = reply; });
        return waitUntil([&] { return result.has_value(); }) ? *result : QJsonObject();
    }

    QJsonValue evaluate(const QString& expression)
    {
        std::optional<QJsonValue> value;
        driver.evaluate(tab, expression, [&](const QJsonValue& reply) { value = reply; });
        return waitUntil([&] { return value.has_value(); }) ? *value : QJsonValue();
    }

    /// The pointer and keys of the display, as the user's hand moves them: Firefox's
    /// synthesised BiDi input does not reach a frame of another site's process. `css` is in the
    /// page's CSS pixels, placed by where Firefox says its viewport is on the screen.
    void movePointer(QPoint css)
    {
        if (!viewport) {
            const QStringList place =
                evaluate(QStringLiteral("[mozInnerScreenX, mozInnerScreenY].join(' ')"))
                    .toString()
                    .split(u' ');
            if (place.size() == 2)
                viewport = QPoint(qRound(place[0].toDouble()), qRound(place[1].toDouble()));
        }
        const QPoint screen = css + viewport.value_or(QPoint());
        XTestFakeMotionEvent(display, -1, screen.x(), screen.y(), CurrentTime);
        XSync(display, False);
    }
    void click(QPoint css)
    {
        movePointer(css);
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XSync(display, False);
    }
    void press(KeySym key)
    {
        const KeyCode code = XKeysymToKeycode(display, key);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        XSync(display, False);
    }

    /// Whether the bar's red face shows at its place over the movie whose corner is `corner`,
    /// on what Firefox draws of the tab.
    bool barShownOver(QPoint corner)
    {
        const QByteArray png =
            QByteArray::fromBase64(call(QStringLiteral("browsingContext.captureScreenshot"),
                                        {{QStringLiteral("context"), tab}})
                                       .value(QStringLiteral("data"))
                                       .toString()
                                       .toLatin1());
        const QImage shot = QImage::fromData(png, "PNG");
        const double scale = evaluate(QStringLiteral("window.devicePixelRatio")).toDouble(1.0);
        if (shot.isNull())
            return false;
        return BarFaceAt(scale == 1.0 ? shot : shot.scaled(shot.size() / scale),
                         corner + QPoint(15, 15));
    }

    /// Opens a page of the server, then starts Clip Vault, as a user who opened the page first,
    /// and waits until the companion has reached it.
    void openThenStartProgram(const char* path)
    {
        call(QStringLiteral("browsingContext.navigate"),
             {{QStringLiteral("context"), tab},
              {QStringLiteral("url"), QString::fromStdString(server.url(path))},
              {QStringLiteral("wait"), QStringLiteral("complete")}});
        ASSERT_NO_FATAL_FAILURE(program.start());
        ASSERT_TRUE(waitUntil([&] { return program.links.isConnected(); }, 60000))
            << "Firefox's companion never reached Clip Vault";
    }
    /// Moves the pointer to `at` (page CSS pixels) until the bar shows over the movie whose
    /// corner is `corner`.
    bool barComesUp(QPoint at, QPoint corner)
    {
        return waitUntil(
            [&] {
                movePointer(at + QPoint(0, 1));
                movePointer(at);
                return barShownOver(corner);
            },
            30000);
    }

    BidiConnection driver;
    QString tab;
    std::optional<QPoint> viewport;
    CompanionProgram program;
};

} // namespace

TEST_F(FirefoxCompanionTest, ClipVaultStartedAfterTheBrowserFilesAFramesMovieFromTheBar)
{
    // Clip Vault starts after the page is open: the bar comes without a reload.
    ASSERT_NO_FATAL_FAILURE(openThenStartProgram("/page.html"));
    // The window is made the active one first, as the user's first click on it does: a click
    // that activates the window gives the frame it lands in no keyboard.
    ASSERT_TRUE(waitUntil([&] {
        click({600, 500});
        return evaluate(QStringLiteral("document.hasFocus()")).toBool();
    }));
    const QPoint corner(0, 60); // the movie's, in the page's CSS pixels
    ASSERT_TRUE(barComesUp(corner + QPoint(120, 100), corner))
        << "no bar came up over the frame's movie";

    // Its first button, Down and Enter: "Downloaded". The keys wait for the keyboard to be
    // Firefox's (the window manager here gives it no focus on a click) and the frame's.
    click(corner + QPoint(15 + 30, 15 + 14));
    ASSERT_TRUE(waitUntil([&] {
        return evaluate(QStringLiteral("document.activeElement.localName")).toString() == u"iframe";
    })) << "the click did not reach the frame's bar";
    press(XK_Down);
    press(XK_Return);
    const QString movie = QStringLiteral("http://localhost:%1/movies/m.swf").arg(server.port());
    ASSERT_TRUE(waitUntil([&] { return program.downloaded(movie).has_value(); }))
        << "the movie was not filed and downloaded: " << qPrintable(program.itemsText());
    EXPECT_EQ(FieldText(program.downloaded(movie)->Category), QStringLiteral("Downloaded"));
    EXPECT_TRUE(program.links.connectedNames().join(u' ').startsWith(QStringLiteral("firefox ")))
        << qPrintable(program.links.connectedNames().join(u' '));
}

TEST_F(FirefoxCompanionTest, APlainEmbedFirefoxGivesNoBoxGetsTheBarOverTheBoxItDeclares)
{
    if (!ready())
        return;
    ASSERT_NO_FATAL_FAILURE(openThenStartProgram("/bare.html"));
    const QString box =
        evaluate(QStringLiteral("(() => { const r = document.querySelector('embed')"
                                ".getBoundingClientRect(); return r.width + 'x' + r.height; "
                                "})()"))
            .toString();
    const QPoint corner(0, 60); // the declared box's, in the page's CSS pixels
    EXPECT_TRUE(barComesUp(corner + QPoint(150, 100), corner))
        << "no bar came up over the embed Firefox draws as " << qPrintable(box);
}
