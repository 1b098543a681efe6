// The installed program as a user starts it: one instance per data folder, and a catalogue that
// survives the ways a desktop ends a program.

#include "datafolder.h"
#include "rawserver.h"
#include "swfwriter.h"
#include "testfiles.h"
#include "waituntil.h"

#include <csignal>

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

// Xlib's macros clash with the headers above; it comes last.
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

class ProgramTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CLIPVAULT_HOME"), folder.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        for (QProcess* process : {&first, &second})
            process->setProcessEnvironment(environment);
    }
    void TearDown() override
    {
        for (QProcess* process : {&first, &second}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }
    QString path(const char* name) const
    {
        return QDir(folder.path()).filePath(QLatin1String(name));
    }

    /// Waits until the program has its data folder (the lock file appears).
    bool waitUntilUp()
    {
        return waitUntil([&] { return QFile::exists(path("clipvault.lock")); }, 60000);
    }
    /// Waits until a window of the program's is up: the catalogue was read before it.
    static bool waitUntilAWindowShows()
    {
        return waitUntil(
            [] {
                QProcess xprop;
                xprop.start(QStringLiteral("xprop"), {"-root", "_NET_CLIENT_LIST"});
                xprop.waitForFinished(10000);
                return xprop.readAllStandardOutput().contains("window id # 0x");
            },
            60000);
    }

    QTemporaryDir folder;
    QProcess first;
    QProcess second;
};

} // namespace

TEST_F(ProgramTest, ASecondStartEndsAtOnceAndTerminationSavesTheCatalogue)
{
    first.start(QStringLiteral(CLIPVAULT_PROGRAM), {});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitUntilUp());

    second.start(QStringLiteral(CLIPVAULT_PROGRAM), {});
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(path("downloading.log"))) << "nothing is written before the end";

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(60000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(readFile(path("downloading.log")), logHeaderBytes("clipvault", 0));
    EXPECT_EQ(readFile(path("category.log")).size(), 16 + 6 * 144);
}

TEST_F(ProgramTest, TheCommandLineAndTheProgramNeverChangeTheCatalogueAtOnce)
{
    // A change of the command-line tool is under way (this test holds the folder as it does):
    // the program waits for it, then starts on the changed log.
    auto change = std::make_unique<DataFolderLock>(folder.path());
    ASSERT_TRUE(change->acquire(0));
    first.start(QStringLiteral(CLIPVAULT_PROGRAM), {});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(writeFile(path("downloading.log"),
                          logHeaderBytes("clipvault", 1) +
                              itemBytes('P', "http://a.com/added.swf", "Game", "/m/", "a.swf")));
    change.reset();
    DataFolderLock probe(folder.path());
    ASSERT_TRUE(waitUntil([&] { return probe.holder() == DataFolderLock::Holder::Program; }, 60000))
        << "the program never took the folder";

    // While it runs, changes are handed to it and answered once they are on disk; a refused one
    // says why, with no box in the program.
    QProcess cli;
    const auto changeHanded = [&](const QStringList& words, int code, const char* said = "") {
        cli.start(QStringLiteral(CLIPVAULT_CLI),
                  QStringList{"catalogue"} + words + QStringList{"--data-dir", folder.path()});
        ASSERT_TRUE(cli.waitForFinished(60000));
        const QByteArray error = cli.readAllStandardError();
        EXPECT_EQ(cli.exitCode(), code)
            << qPrintable(words.join(u' ')) << ": " << error.constData();
        EXPECT_TRUE(error.contains(said)) << error.constData();
    };
    changeHanded({"category", "add", "New"}, 0);
    changeHanded({"category", "add", "New"}, 1, "a category named \"New\" exists already");
    changeHanded({"add", "http://a.com/other.swf", "--category", "New"}, 0);
    changeHanded({"add", "http://a.com/gone.swf"}, 0);
    changeHanded({"remove", "http://a.com/gone.swf"}, 0);
    changeHanded({"remove", "http://a.com/gone.swf"}, 1, "is not in the catalogue");
    // Reading is allowed, with a word that the files are behind the running program.
    cli.start(QStringLiteral(CLIPVAULT_CLI), {"catalogue", "list", "--data-dir", folder.path()});
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 0);
    EXPECT_TRUE(cli.readAllStandardError().contains("a change it made in the last second may not"));
    // An import is handed to the program, whose catalogue it is, and its summary printed; one
    // into a category it has not is refused, naming the command that makes one.
    ASSERT_TRUE(QDir().mkpath(path("movies")));
    ASSERT_TRUE(writeFile(path("movies/m.swf"), WriteSwf(SwfMovie{})));
    cli.start(QStringLiteral(CLIPVAULT_CLI),
              {"import", path("movies"), "--category", "Nope", "--data-dir", folder.path()});
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_TRUE(cli.readAllStandardError().contains("catalogue category add \"Nope\""));
    cli.start(QStringLiteral(CLIPVAULT_CLI),
              {"import", path("movies"), "--json", "--data-dir", folder.path()});
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().constData();
    EXPECT_TRUE(cli.readAllStandardOutput().contains("\"added\":1"));

    // Killed at once, it loses nothing it answered for.
    first.kill();
    ASSERT_TRUE(first.waitForFinished(60000));
    const QByteArray log = readFile(path("downloading.log"));
    EXPECT_EQ(log.size(), 16 + 3 * 636) << "the change it started on, the added one, the import";
    EXPECT_TRUE(log.contains("http://a.com/added.swf") && log.contains("http://a.com/other.swf"));
    EXPECT_TRUE(log.contains("file://"));
    EXPECT_TRUE(readFile(path("category.log")).contains("New"));
}

TEST_F(ProgramTest, ATerminationRightAfterStartStillSavesTheCatalogue)
{
    // The signal comes as soon as the data folder is taken, before the window may be up.
    first.start(QStringLiteral(CLIPVAULT_PROGRAM), {});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitUntilUp());
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(60000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit) << "the handler, not the signal, ended it";
    EXPECT_EQ(readFile(path("downloading.log")), logHeaderBytes("clipvault", 0));
    EXPECT_EQ(readFile(path("category.log")).size(), 16 + 6 * 144);
}

TEST_F(ProgramTest, ATerminationAfterAnotherProgramChangedTheLogEndsAndKeepsBothViews)
{
    const QByteArray ours = logHeaderBytes("clipvault", 1) +
                            itemBytes('P', "http://a.com/ours.swf", "Game", "/m/", "a.swf");
    ASSERT_TRUE(writeFile(path("downloading.log"), ours));
    first.start(QStringLiteral(CLIPVAULT_PROGRAM), {});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitUntilAWindowShows());
    // Another program writes into the log in place: the save that ends the program leaves it
    // alone and keeps its own view beside it, and the notice saying so must not hold the end.
    const QByteArray theirs = logHeaderBytes("clipvault", 2) +
                              itemBytes('P', "http://a.com/theirs.swf", "Game", "/m/", "b.swf") +
                              itemBytes('P', "http://a.com/more.swf", "Game", "/m/", "c.swf");
    QFile log(path("downloading.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadWrite));
    ASSERT_EQ(log.write(theirs), theirs.size());
    log.close();
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(60000)) << "the notice held the end";
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(readFile(path("downloading.log")), theirs);
    const QStringList kept =
        QDir(folder.path()).entryList({QStringLiteral("downloading.log.*.kept")});
    EXPECT_EQ(kept.size(), 1) << qPrintable(QDir(folder.path()).entryList().join(u' '));
}

TEST_F(ProgramTest, ATerminationEndsTheProgramWhileAStartUpNoticeIsOpen)
{
    // No private folder for the pointer block: "Enable Mouse Hook failed." comes up at start,
    // before the main window, in an event loop of its own.
    ASSERT_TRUE(QFile::link(QStringLiteral("/tmp"), path("run")));
    QProcessEnvironment environment = first.processEnvironment();
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    first.setProcessEnvironment(environment);
    first.start(QStringLiteral(CLIPVAULT_PROGRAM), {});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitUntilAWindowShows()) << "the notice never came up";

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(60000)) << "the open notice held the end";
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(readFile(path("downloading.log")), logHeaderBytes("clipvault", 0));
}

TEST_F(ProgramTest, ADebuggingEndpointThatNeverEndsItsReplyLeavesMemoryFlat)
{
    // The configured debugging port answers every request with a body that never ends.
    RawServer endless(RawServer::endless("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                         "Content-Length: 100000000000\r\n\r\n"
                                         "{\"webSocketDebuggerUrl\":\""));
    ASSERT_TRUE(writeFile(path("clipvault.conf"),
                          "[General]\ndebuggingPort=" + QByteArray::number(endless.port()) + "\n"));
    first.start(QStringLiteral(CLIPVAULT_PROGRAM), {});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitUntilUp());

    // A browser's window in front, under the pointer.
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window browser =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1280, 800, 0, 0, 0xffffff);
    XClassHint hint{const_cast<char*>("chromium"), const_cast<char*>("Chromium")};
    XSetClassHint(display, browser, &hint);
    XMapRaised(display, browser);
    XSync(display, False);

    const auto residentBytes = [&] {
        QFile status(QStringLiteral("/proc/%1/status").arg(first.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return qint64(0);
        const QByteArray text = status.readAll();
        const qsizetype at = text.indexOf("VmRSS:");
        return at < 0 ? 0 : text.mid(at + 6).trimmed().split(' ').value(0).toLongLong() * 1024;
    };
    // For 30 seconds the pointer moves over the browser ten times a second, and the program's
    // memory is sampled as often.
    qint64 peak = 0;
    int step = 0;
    QTimer mover;
    QObject::connect(&mover, &QTimer::timeout, [&] {
        // Over the program's own window, should it come up meanwhile.
        XRaiseWindow(display, browser);
        XSetInputFocus(display, browser, RevertToParent, CurrentTime);
        XTestFakeMotionEvent(display, -1, 600 + step % 50, 400 + step % 30, CurrentTime);
        XSync(display, False);
        ++step;
        peak = std::max(peak, residentBytes());
    });
    mover.start(100);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(waitUntil([&] { return clock.elapsed() >= 30000; }, 60000));
    mover.stop();
    const int requests = endless.connections();
    XDestroyWindow(display, browser);
    XCloseDisplay(display);
    EXPECT_GE(requests, 3) << "the program never asked the endpoint again";
    EXPECT_LT(peak, qint64(1) << 30) << "each retry left the last reply growing";
    RecordProperty("peakResidentMiB", static_cast<int>(peak >> 20));
    EXPECT_EQ(first.state(), QProcess::Running);
}

namespace {

/// The managed top-level window whose title is `title`, or 0.
Window managedWindowTitled(Display* display, const char* title)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long left = 0;
    unsigned char* data = nullptr;
    const Atom list = XInternAtom(display, "_NET_CLIENT_LIST", False);
    if (XGetWindowProperty(display, DefaultRootWindow(display), list, 0, 1024, False, XA_WINDOW,
                           &type, &format, &count, &left, &data) != Success ||
        !data)
        return 0;
    Window found = 0;
    const auto* windows = reinterpret_cast<const Window*>(data);
    for (unsigned long i = 0; i < count && !found; ++i) {
        XTextProperty name{};
        if (XGetWMName(display, windows[i], &name) && name.value) {
            if (QByteArray(reinterpret_cast<const char*>(name.value)) == title)
                found = windows[i];
            XFree(name.value);
        }
    }
    XFree(data);
    return found;
}

} // namespace

TEST_F(ProgramTest, ClosingThePlayerAPlayStartOpenedEndsTheProgram)
{
    const QString movie = path("red.swf");
    ASSERT_TRUE(writeFile(movie, WriteSwf(SwfMovie{})));
    first.start(QStringLiteral(CLIPVAULT_PROGRAM), {"--play", movie});
    ASSERT_TRUE(first.waitForStarted());
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Window player = 0;
    ASSERT_TRUE(
        waitUntil([&] { return (player = managedWindowTitled(display, "Flash Preview")); }, 60000))
        << "the player never came up";
    // Closed as its title bar's button closes it: through the window manager.
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = player;
    close.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = CurrentTime;
    close.xclient.data.l[1] = 2; // a pager or tool, as the user's own hand
    XSendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &close);
    XSync(display, False);
    XCloseDisplay(display);
    ASSERT_TRUE(first.waitForFinished(60000)) << "the program stayed in the tray";
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(readFile(path("category.log")).size(), 16 + 6 * 144) << "saved as it ends";
}
