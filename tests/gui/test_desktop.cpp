#include "privatefolder.h"
#include "singleinstance.h"
#include "standinportal.h"
#include "wayland/portalhotkey.h"
#include "x11/xdgautostart.h"
#include "x11/xdgdesktopopen.h"

#include "memolines.h"
#include "testfiles.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <future>
#include <optional>
#include <utility>

TEST(SingleInstance, ASecondStartOnTheSameFolderRaisesTheFirst)
{
    QTemporaryDir folder;
    SingleInstance first(folder.path());
    ASSERT_TRUE(first.acquire());
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    // The desktop's token for that start comes along: with it the window may take the focus.
    qputenv("XDG_ACTIVATION_TOKEN", "launcher-token_1");
    SingleInstance second(folder.path());
    EXPECT_FALSE(second.acquire());
    qunsetenv("XDG_ACTIVATION_TOKEN");
    EXPECT_TRUE(waitUntil([&] { return raised.count() == 1; }));
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "launcher-token_1");
    qunsetenv("XDG_ACTIVATION_TOKEN");

    // A start to play a movie hands the movie over, a name with a line break included.
    QSignalSpy played(&first, &SingleInstance::playRequested);
    const QString movie = QStringLiteral("/films/two\nlines ü.swf");
    SingleInstance third(folder.path());
    EXPECT_FALSE(third.acquire(movie));
    ASSERT_TRUE(waitUntil([&] { return played.count() == 1; }));
    EXPECT_EQ(played.first().first().toString(), movie);
    SingleInstance fourth(folder.path());
    EXPECT_FALSE(fourth.acquire(QString()));
    ASSERT_TRUE(waitUntil([&] { return played.count() == 2; }));
    EXPECT_EQ(played.last().first().toString(), QString()) << "the player with no movie";
    EXPECT_EQ(raised.count(), 1) << "playing is no request to show the main window";
    // The hand-over a later start makes before it has an application of its own.
    EXPECT_TRUE(SingleInstance::handOff(folder.path(), movie));
    ASSERT_TRUE(waitUntil([&] { return played.count() == 3; }));
    EXPECT_EQ(played.last().first().toString(), movie);

    QTemporaryDir otherFolder;
    EXPECT_FALSE(SingleInstance::handOff(otherFolder.path(), movie)) << "no program runs there";
    SingleInstance elsewhere(otherFolder.path());
    EXPECT_TRUE(elsewhere.acquire()) << "another data folder is another catalogue";
}

TEST(SingleInstance, WithACompanionConnectedTheBrowserCommandsAskForNoDebuggingPort)
{
    // The running program, with a companion connected and no browser window to be found.
    QTemporaryDir folder;
    SingleInstance program(folder.path());
    ASSERT_TRUE(program.acquire());
    program.answerRequest(QByteArray(kCompanionsRequest), [](QLocalSocket& socket) {
        socket.write("chromium 156.0\n");
        socket.disconnectFromServer();
    });
    const auto run = [&](const QStringList& words) {
        // No display: no browser the user runs meanwhile is found.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        QProcess cli;
        cli.setProcessEnvironment(environment);
        cli.start(QStringLiteral(CLIPVAULT_CLI),
                  QStringList{QStringLiteral("--data-dir"), folder.path()} + words);
        EXPECT_TRUE(waitUntil([&] { return cli.state() == QProcess::NotRunning; }, 60000));
        return std::pair{cli.exitCode(), QString::fromLocal8Bit(cli.readAllStandardOutput() +
                                                                cli.readAllStandardError())};
    };
    const auto [statusCode, status] = run({QStringLiteral("browser"), QStringLiteral("status")});
    EXPECT_EQ(statusCode, 0) << qPrintable(status);
    EXPECT_TRUE(status.contains(QStringLiteral("none needed: the browser companion answers")) &&
                !status.contains(QStringLiteral("--remote-debugging-port")))
        << qPrintable(status);
    const auto [atCode, at] = run({QStringLiteral("browser"), QStringLiteral("at"),
                                   QStringLiteral("5"), QStringLiteral("5")});
    EXPECT_EQ(atCode, 1);
    EXPECT_TRUE(at.contains(QStringLiteral("needs the browser's debugging port")))
        << qPrintable(at);
}

TEST(SingleInstance, AQuestionAnsweredLateGetsItsAnswer)
{
    QTemporaryDir folder;
    SingleInstance program(folder.path());
    ASSERT_TRUE(program.acquire());
    QByteArray heard;
    program.answerRequestWith("echo\n", [&](QLocalSocket& socket, const QByteArray& argument) {
        heard = argument;
        // Later than a request may take to arrive whole: an answer under way is not dropped,
        // and the asker's connection stays open for it.
        // And longer than a socket's buffer: a long import summary comes whole.
        QTimer::singleShot(5500, &socket, [&socket] {
            socket.write(QByteArray(200 * 1024, 'x') + "late answer");
            socket.disconnectFromServer();
        });
    });
    std::future<std::optional<QByteArray>> reply = std::async(std::launch::async, [&] {
        return AskRunningProgram(folder.path(), "echo\nthe argument\n", 30000, true, 1 << 20);
    });
    ASSERT_TRUE(waitUntil(
        [&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        60000));
    EXPECT_EQ(reply.get(), std::optional<QByteArray>(QByteArray(200 * 1024, 'x') + "late answer"));
    EXPECT_EQ(heard, "the argument");
}

TEST(SingleInstance, ItsSocketIsPrivateDropsSilentSendersAndAMissingPlaceDoesNotStopTheProgram)
{
    QTemporaryDir folder;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    {
        SingleInstance first(folder.path());
        ASSERT_TRUE(first.acquire());
        ASSERT_TRUE(first.isListening());
        // Where nobody else can make a name first: the data folder's private "run" folder.
        const QStringList sockets = QDir(QDir(folder.path()).filePath(QStringLiteral("run")))
                                        .entryList({QStringLiteral("clipvault.*")}, QDir::System);
        EXPECT_EQ(sockets.size(), 1) << "the socket is not in the private folder";

        // A connection that never finishes its message is dropped unheard: the part of a path
        // it sent is not played.
        QSignalSpy played(&first, &SingleInstance::playRequested);
        QLocalSocket silent;
        silent.connectToServer(QDir(folder.path()).filePath(QStringLiteral("run/")) +
                               sockets.value(0));
        ASSERT_TRUE(silent.waitForConnected(5000));
        silent.write("play\n/films/par");
        EXPECT_TRUE(waitUntil([&] { return silent.state() == QLocalSocket::UnconnectedState; }))
            << "a silent sender is held for ever";
        // The server's end has handled the connection before the sender hears it closed.
        EXPECT_EQ(played.count(), 0);
    }
    // No private folder for the socket (a link where it would be): the program runs on.
    QTemporaryDir other;
    ASSERT_TRUE(
        QFile::link(QStringLiteral("/tmp"), QDir(other.path()).filePath(QStringLiteral("run"))));
    SingleInstance lonely(other.path());
    EXPECT_TRUE(lonely.acquire());
    EXPECT_FALSE(lonely.isListening());
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
}

TEST(XdgAutostart, WritesAnEntryWithTheProgramPathAndRemovesIt)
{
    XdgAutostart autostart;
    const QString entry = XdgAutostart::entryPath();
    ASSERT_TRUE(autostart.setEnabled(true, QStringLiteral("/opt/clip vault/clipvault")));
    EXPECT_TRUE(autostart.isEnabled());
    const QString text = QString::fromUtf8(readFile(entry));
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=\"/opt/clip vault/clipvault\"\n")))
        << qPrintable(text);
    // The icon the installed desktop entry names, which the package installs.
    const QString installed = QString::fromUtf8(readFile(
        QStringLiteral(CLIPVAULT_FIXTURES "/../../data/io.github.clipvault.ClipVault.desktop")));
    const QString icon =
        installed.mid(installed.indexOf(QStringLiteral("\nIcon="))).section(u'\n', 1, 1);
    ASSERT_FALSE(icon.isEmpty());
    EXPECT_TRUE(text.contains(u'\n' + icon + u'\n')) << qPrintable(text);

    ASSERT_TRUE(autostart.setEnabled(true, QStringLiteral("/usr/bin/clipvault")));
    EXPECT_TRUE(
        QString::fromUtf8(readFile(entry)).contains(QStringLiteral("\nExec=/usr/bin/clipvault\n")));

    ASSERT_TRUE(autostart.setEnabled(false, {}));
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_TRUE(autostart.setEnabled(false, {})) << "switching off twice is harmless";
}

TEST(MemoLines, FillsTheControlLineByLine)
{
    QPlainTextEdit memo;
    memo.setPlainText(QStringLiteral("old"));
    LoadMemoLines(&memo, "one\r\ntwo\n\rthree");
    EXPECT_EQ(memo.toPlainText(), QStringLiteral("one\ntwo\n\nthree"));
    LoadMemoLines(&memo, "");
    EXPECT_TRUE(memo.toPlainText().isEmpty());
}

TEST(XdgDesktopOpen, TheDefaultPlayerIsAskedForWithoutWaitingAndAHungDesktopHasNone)
{
    // Stand-ins for xdg-mime on the path: one answers, one never does.
    QTemporaryDir bin;
    const QString script = QDir(bin.path()).filePath(QStringLiteral("xdg-mime"));
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + savedPath);
    XdgDesktopOpen desktop;
    QObject context;
    for (const auto& [body, expected] :
         {std::pair<QByteArray, QString>{"echo vlc.desktop", QStringLiteral("vlc.desktop")},
          {"exec sleep 30", QString()}}) {
        ASSERT_TRUE(writeFile(script, "#!/bin/sh\n" + body + "\n"));
        QFile(script).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        std::optional<QString> answer;
        QElapsedTimer clock;
        clock.start();
        desktop.defaultApplication(QStringLiteral("application/x-shockwave-flash"), &context,
                                   [&](const QString& entry) { answer = entry; });
        EXPECT_LT(clock.elapsed(), 1000) << "the window thread waited for the desktop";
        EXPECT_FALSE(answer.has_value());
        EXPECT_TRUE(waitUntil([&] { return answer.has_value(); }));
        EXPECT_EQ(answer.value_or(QStringLiteral("none")), expected);
    }
    qputenv("PATH", savedPath);
}

TEST(XdgDesktopOpen, AProgramThatEndsAtOnceIsHeardWithTheLastLinesOfItsError)
{
    // A browser warns first and says why it ended last.
    XdgDesktopOpen desktop;
    QObject context;
    QString said;
    ASSERT_TRUE(desktop.startDetached(
        QStringLiteral("sh"),
        {"-c", "echo 'warning: no GPU' >&2; for i in 1 2 3 4 5 6 7 8; do echo line $i >&2; done; "
               "echo >&2; echo 'Error: cannot open display' >&2; exit 3"},
        &context, [&](const QString& lines) { said = lines; }));
    EXPECT_TRUE(waitUntil([&] { return !said.isEmpty(); }));
    EXPECT_EQ(said, QStringLiteral("line 6\nline 7\nline 8\nError: cannot open display"));
}

TEST(PortalHotKey, BindsF7ThroughTheDesktopsPortalAndSaysOnceWhenItCannot)
{
    // Bound: F7 as the preferred trigger, and each press of the desktop's shortcut is heard.
    {
        StandInPortal portal;
        ASSERT_TRUE(portal.serve());
        PortalHotKey key(portal.programBus());
        QSignalSpy pressed(&key, &HotKey::activated);
        ASSERT_TRUE(key.registerKey());
        ASSERT_TRUE(waitUntil([&] { return key.isRegistered(); }));
        ASSERT_EQ(portal.boundIds, QStringList{QString::fromLatin1(PortalHotKey::kShortcutId)});
        EXPECT_EQ(portal.boundProperties[0].value(QStringLiteral("preferred_trigger")),
                  QStringLiteral("F7"));
        EXPECT_EQ(portal.boundProperties[0].value(QStringLiteral("description")),
                  QStringLiteral("Show or hide Clip Vault"));
        portal.press();
        portal.press();
        EXPECT_TRUE(waitUntil([&] { return pressed.size() == 2; }));
    }
    // Declined by the user, or no portal at all: one notice, and no key.
    for (const bool served : {true, false}) {
        StandInPortal portal;
        portal.response = 1;
        ASSERT_TRUE(!served || portal.serve());
        PortalHotKey key(portal.programBus());
        QSignalSpy unavailable(&key, &HotKey::unavailable);
        EXPECT_EQ(key.registerKey(), served);
        EXPECT_TRUE(waitUntil([&] { return unavailable.size() == 1; })) << served;
        EXPECT_FALSE(key.isRegistered());
    }
}
