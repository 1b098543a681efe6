// Clip Vault as a Wayland client of a headless Weston: the main window comes up there, F7
// through a stand-in for the desktop's global shortcuts portal hides and shows it, and Chromium
// running as a Wayland client shows the companion's bar, whose choice files the movie; the tray
// and the hanging window bring the window back, and the player draws without GL.

#include "companionprogram.h"
#include "drivenbrowser.h"
#include "flashplayer.h"
#include "mainwindowfixture.h"
#include "miniform.h"
#include "movieserver.h"
#include "optionform.h"
#include "moviepage.h"
#include "playerfiles.h"
#include "platformfactory.h"
#include "shownplayer.h"
#include "standinportal.h"
#include "swfwriter.h"
#include "testserver.h"
#include "traycontroller.h"
#include "waituntil.h"
#include "wayland/portalhotkey.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QMutex>
#include <QScopeGuard>
#include <QThread>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

namespace {

/// Clip Vault's main window on a temporary data folder, shown at its start as the program shows
/// it, with the given hot key and fake desktop services.
struct ShownProgram
{
    explicit ShownProgram(HotKey& hotKey)
        : window(MainWindowServices{app, movies.server(), hotKey, autostart, desktop, dialogs, {}})
    {
        window.showAtStart();
    }

    QTemporaryDir folder;
    ScriptedPrompt prompt;
    FakeAutostart autostart;
    FakeDesktopOpen desktop;
    ScriptedDialogs dialogs;
    Vault app{folder.path(), DefaultOptions(), prompt};
    bool opened = (app.open(), true);
    VaultMovieServer movies{app};
    TClipVaultMain window;
};

} // namespace

TEST(Wayland, TheMainWindowComesUpAsAWaylandClientAndF7FromThePortalHidesAndShowsIt)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    EXPECT_TRUE(platform::isWayland());

    StandInPortal portal;
    ASSERT_TRUE(portal.serve());
    PortalHotKey hotKey(portal.programBus());
    ShownProgram program(hotKey);
    TClipVaultMain& window = program.window;
    ASSERT_TRUE(waitUntil([&] {
        return window.windowHandle() && window.windowHandle()->isExposed();
    })) << "the compositor never showed the window";

    // The shortcut the window bound at its start hides it, and the next press shows it again.
    ASSERT_TRUE(waitUntil([&] { return hotKey.isRegistered(); }));
    portal.press();
    ASSERT_TRUE(waitUntil([&] { return !window.isShownState(); }));
    EXPECT_FALSE(window.isVisible()) << "a Wayland client hides: it cannot undo a minimize";
    portal.press(QStringLiteral("press-token"));
    ASSERT_TRUE(waitUntil([&] { return window.isShownState(); }));
    EXPECT_TRUE(waitUntil([&] { return window.windowHandle()->isExposed(); }));
    // The press's token is lent to the window (Weston 10 has no activation to spend it on).
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "press-token");
    EXPECT_TRUE(program.prompt.messages.empty()) << "no notice while the shortcut works";

    // The options say where the shortcut bar is on this desktop.
    const TOptionForm options;
    EXPECT_TRUE(options.findChild<QCheckBox*>(QStringLiteral("chk_show_bar"))
                    ->toolTip()
                    .contains(u"browser companion"));
}

TEST(Wayland, ChromiumOnWaylandShowsTheCompanionsBarAndItsChoiceFilesTheMovie)
{
    if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    TestServer server;
    ServeMoviePage(server, "/page.html", "<div style='height:40px'></div>");
    server.start();

    // The browser as a Wayland client with the companion, its host found through the
    // manifests `browser connect` wrote into the test's own home.
    CompanionProgram program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), program.home.path());
    environment.insert(QStringLiteral("CLIPVAULT_HOME"), program.data.path());
    DrivenBrowser browser({QStringLiteral("--ozone-platform=wayland"),
                           QStringLiteral("--load-extension=" CLIPVAULT_EXTENSION_DIR)},
                          environment);
    ASSERT_NO_FATAL_FAILURE(
        program.connectBrowser(QStringLiteral("chromium"), browser.profile.path(), environment));
    ASSERT_NO_FATAL_FAILURE(program.start());
    ASSERT_TRUE(browser.open()) << "Chromium did not come up on Weston";
    ASSERT_TRUE(waitUntil([&] { return program.links.isConnected(); }, 60000));
    const QString page = QString::fromStdString(server.url("/page.html"));
    ASSERT_GT(browser.load(page), 0);

    // The browser's own pointer over the movie brings the bar; its first button, Down and Enter
    // file the movie under "Downloaded".
    const QPoint corner(0, 40);
    ASSERT_TRUE(waitUntil(
        [&] {
            browser.moveOff();
            browser.mouse("mouseMoved", corner + QPoint(100, 100));
            return browser
                .evaluate(QStringLiteral("document.querySelector('clipvault-bar') !== "
                                         "null"))
                .toBool();
        },
        30000))
        << "no bar came up over the movie";
    const QPoint button = corner + QPoint(15 + 30, 15 + 14);
    browser.mouse("mouseMoved", button);
    browser.mouse("mousePressed", button);
    browser.mouse("mouseReleased", button);
    browser.key("ArrowDown", 40);
    browser.key("Enter", 13);
    const QString movie = QString::fromStdString(server.url("/movies/m.swf"));
    ASSERT_TRUE(waitUntil([&] { return program.downloaded(movie).has_value(); }))
        << "the movie was not filed and downloaded: " << qPrintable(program.itemsText());
    EXPECT_EQ(FieldText(program.downloaded(movie)->Category), QStringLiteral("Downloaded"));

    // No window of the browser can be found here, and the command line says the companion
    // answers instead.
    QProcess status;
    status.start(QStringLiteral(CLIPVAULT_CLI),
                 {QStringLiteral("--data-dir"), program.data.path(), QStringLiteral("browser"),
                  QStringLiteral("status")});
    ASSERT_TRUE(waitUntil([&] { return status.state() == QProcess::NotRunning; }, 60000));
    const QString said = QString::fromUtf8(status.readAllStandardOutput());
    EXPECT_EQ(status.exitCode(), 0) << qPrintable(said);
    EXPECT_TRUE(said.contains(u"a Wayland desktop shows no program") &&
                said.contains(u"browser companion: chromium "))
        << qPrintable(said);
}

namespace {

/// A stand-in for the desktop's tray host on the session bus: the StatusNotifierWatcher Qt asks
/// whether a host shows items, and which items registered.
class StandInTrayWatcher final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_items;
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service)
    {
        const QMutexLocker lock(&m_mutex);
        m_items << service;
    }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    mutable QMutex m_mutex;
    QStringList m_items;
};

} // namespace

TEST(Wayland, TheTrayIsAStatusNotifierItemAndTheTrayTogglesTheWindow)
{
    // On a thread of its own: Qt asks the watcher with blocking calls from this one.
    QThread host;
    StandInTrayWatcher watcher;
    watcher.moveToThread(&host);
    host.start();
    const auto stopHost = qScopeGuard([&] {
        host.quit();
        host.wait();
    });
    bool served = false;
    QMetaObject::invokeMethod(
        &watcher,
        [&] {
            QDBusConnection bus =
                QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("tray"));
            served = bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                        QDBusConnection::ExportAllSlots |
                                            QDBusConnection::ExportAllProperties) &&
                     bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        },
        Qt::BlockingQueuedConnection);
    ASSERT_TRUE(served);

    FakeHotKey hotKey;
    ShownProgram program(hotKey);
    TClipVaultMain& window = program.window;
    ASSERT_TRUE(window.tray().isAvailable()) << "no tray through the watcher";
    ASSERT_TRUE(waitUntil([&] { return !watcher.items().isEmpty(); }))
        << "the tray icon never registered as a StatusNotifierItem";
    emit window.tray().toggleRequested();
    EXPECT_FALSE(window.isVisible());
    emit window.tray().toggleRequested();
    EXPECT_TRUE(waitUntil([&] { return window.windowHandle()->isExposed(); }));

    // The hanging window stays while the main window is hidden, and a double click on it brings
    // the window back; a press on it asks the compositor to move it, and nothing breaks.
    TMiniForm hanging(window.tray().menu(), [&] {
        if (!window.isShownState())
            window.ToggleMainWindow();
    });
    hanging.FormCreate(true);
    hanging.showWithMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&hanging));
    emit window.tray().toggleRequested();
    ASSERT_FALSE(window.isVisible());
    QTest::mousePress(&hanging, Qt::LeftButton);
    QTest::mouseRelease(&hanging, Qt::LeftButton);
    EXPECT_TRUE(hanging.isVisible());
    QTest::mouseDClick(&hanging, Qt::LeftButton);
    EXPECT_TRUE(
        waitUntil([&] { return window.isVisible() && window.windowHandle()->isExposed(); }));
}

TEST(Wayland, ThePlayerDrawsAMovieOnAWaylandDesktopWithoutGl)
{
    // The web engine renders in software here, as on a desktop without a GPU.
    QTemporaryDir folder;
    SwfMovie red;
    red.background = {0xD0, 0x20, 0x20};
    red.frameCount = 50;
    const QString path = QDir(folder.path()).filePath(QStringLiteral("red.swf"));
    ASSERT_TRUE(writeFile(path, WriteSwf(red)));
    MovieServer server{PlayerFiles::ruffleFolder()};
    FlashPlayer player{server};
    ASSERT_TRUE(ShowAndStartPlayer(player));
    player.setMovie(path);
    QColor stage;
    EXPECT_TRUE(waitUntil(
        [&] {
            const QImage frame = player.PaintTo();
            stage = frame.pixelColor(frame.width() / 8, frame.height() / 8);
            return stage.red() > 180 && stage.green() < 80;
        },
        30000))
        << "the stage stayed " << qPrintable(stage.name());
}

#include "test_wayland.moc"
