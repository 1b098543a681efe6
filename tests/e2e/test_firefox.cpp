// Firefox for real: Debian's Firefox ESR with WebDriver BiDi on a port of its own choosing, on
// this display with openbox, pointed at a page served here; the pointer is moved with XTest.

#include "browsersessions.h"
#include "catalogue.h"
#include "clirun.h"
#include "clipvaultapp.h"
#include "hookappform.h"
#include "options.h"
#include "platformfactory.h"
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

namespace {

CliRun cli(const QStringList& arguments)
{
    return RunCliHere(arguments);
}

class FirefoxTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString firefox = QStandardPaths::findExecutable(QStringLiteral("firefox-esr"));
        if (firefox.isEmpty())
            GTEST_SKIP() << "Firefox ESR is not installed";
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        server.server().Get("/movie.html", [](const httplib::Request&, httplib::Response& reply) {
            reply.set_content("<body style='margin:0'><div style='height:60px'></div>"
                              "<embed src='movies/m.swf' type='application/x-shockwave-flash' "
                              "style='display:block;width:300px;height:200px'></body>",
                              "text/html");
        });
        server.server().Get("/movies/m.swf", [](const httplib::Request&, httplib::Response& reply) {
            const QByteArray movie = WriteSwf(SwfMovie());
            reply.set_content(movie.constData(), static_cast<size_t>(movie.size()),
                              "application/x-shockwave-flash");
        });
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

    void TearDown() override
    {
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

    /// A point over the movie, as the command line finds it down the page's first column.
    std::optional<QPoint> placeOfMovie()
    {
        for (int y = 60; y < 700; y += 20) {
            if (cli({"browser", "at", "100", QString::number(y)}).out.startsWith("movies/m.swf"))
                return QPoint(100, y);
        }
        return std::nullopt;
    }

    Display* display = nullptr;
    TestServer server;
    QString page;
    QTemporaryDir profile;
    QProcess browser;
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
    OptionsRecord options = DefaultOptions();
    ScriptedPrompt prompt;
    ScriptedDialogs dialogs;
    ClipVaultApp app(data.path(), options, prompt);
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
