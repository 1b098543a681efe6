// The program entry: one instance per data folder, the main window, the tray, and a catalogue
// saved on every way out (close, session end, termination signals).

#include "autostart.h"
#include "background.h"
#include "browseraccess.h"
#include "vault.h"
#include "vaultmovieserver.h"
#include "clipvaultmain.h"
#include "companionbars.h"
#include "datafolder.h"
#include "desktopopen.h"
#include "browsersessions.h"
#include "archivedcopy.h"
#include "cachedcopy.h"
#include "capturemode.h"
#include "picturemode.h"
#include "cacheenumerator.h"
#include "cataloguechange.h"
#include "filedialogs.h"
#include "flashpreview.h"
#include "playerreserve.h"
#include "hookappform.h"
#include "hotkey.h"
#include "icons.h"
#include "messageboxprompt.h"
#include "miniform.h"
#include "moviefactskeeper.h"
#include "picturekeeper.h"
#include "options.h"
#include "platformfactory.h"
#include "privatefolder.h"
#include "pointerhook.h"
#include "sharedblock.h"
#include "singleinstance.h"
#include "traycontroller.h"
#include "trayswitches.h"
#include "unixsignals.h"
#include "vaultbar.h"
#include "webarchive.h"
#include "windowfocus.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QPointer>
#include <QQuickWindow>
#include <QTimer>

namespace {

/// `offscreen`: the picture helper, which draws without a window and without the GPU whatever
/// the machine has: its frames are read back from Qt Quick's software renderer, and it takes no
/// GPU time from the user's own windows.
void prepareEnvironment(bool offscreen)
{
    // Qt WebEngine's sandbox refuses to start as root, and GPU use fails under Xvfb and on
    // machines without drivers; the player needs neither.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (offscreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Without a GPU (no DRI device: a virtual display, a headless machine) Chromium's GPU process
    // only fails; software rendering is what works there. The web view's frames then reach the
    // window through Qt Quick's own software renderer: its OpenGL one, emulated, would take a
    // hundred milliseconds more to put each new movie on the screen.
    if (!offscreen && QFileInfo::exists(QStringLiteral("/dev/dri")))
        return;
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

/// When the player kept in reserve starts after a plain start: the window and its preview first.
constexpr int kReserveAfterStartMs = 3000;
/// When the preview starts after a start to play a movie that never shows.
constexpr int kPreviewAtLatestMs = 10000;
/// When the pictures of the movies start to be drawn after a start: after their facts.
constexpr int kPicturesAfterStartMs = 8000;
/// How often the program tells the command line that an import handed to it still runs.
constexpr int kImportAliveMs = 5000;
/// The problems an import's summary hands the command line (its answer has a bound).
constexpr int kProblemsHanded = 200;
/// When the movies' facts start to be read after a start: after the window and the players.
constexpr int kFactsAfterStartMs = 5000;

const char kUsage[] = "usage: clipvault [--play] [FILE]\n"
                      "  FILE, --play FILE   play a movie in the stand-alone player\n"
                      "  --play              open the stand-alone player with no movie\n"
                      "  --capture FILE --origin URL [--seconds N]\n"
                      "                      play a movie without a window, keeping the files\n"
                      "                      it loads beside it (clipvault-cli capture)\n"
                      "  --make-pictures     draw the pictures of the movies asked for on stdin\n"
                      "                      (the program's helper, and clipvault-cli picture)\n"
                      "  --version           print the version\n";

/// What the command line asks of this start.
struct StartRequest
{
    std::optional<QString> movie; ///< play this (empty: the player with no movie)
    std::optional<CaptureRequest> capture;
    bool pictures = false; ///< the picture helper
    bool done = false;     ///< answered already (version, help, bad usage)
    int exitCode = 0;
};

// Read before the application object exists: the version and the help need no display.
StartRequest readCommandLine(int argc, char* argv[])
{
    StartRequest request;
    bool play = false;
    QString file;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == u"--version") {
            std::printf("clipvault %s\n", CLIPVAULT_VERSION);
            request.done = true;
        } else if (argument == u"--help" || argument == u"-h") {
            std::fputs(kUsage, stdout);
            request.done = true;
        } else if (argument == u"--play") {
            play = true;
        } else if (argument == u"--make-pictures") {
            request.pictures = true;
        } else if ((argument == u"--capture" || argument == u"--origin" ||
                    argument == u"--seconds") &&
                   i + 1 < argc) {
            if (!request.capture)
                request.capture = CaptureRequest{};
            const QString value = QString::fromLocal8Bit(argv[++i]);
            if (argument == u"--capture")
                request.capture->file = QFileInfo(value).absoluteFilePath();
            else if (argument == u"--origin")
                request.capture->address = value;
            else
                request.capture->seconds = std::clamp(value.toInt(), 1, 3600);
        } else if (argument.startsWith(u'-') || !file.isEmpty()) {
            std::fprintf(stderr, "clipvault: unexpected argument %s\n%s", argv[i], kUsage);
            request.done = true;
            request.exitCode = 2;
        } else {
            file = QFileInfo(argument).absoluteFilePath();
        }
    }
    if (play || !file.isEmpty())
        request.movie = file;
    if (request.capture &&
        (request.capture->file.isEmpty() || request.capture->address.isEmpty())) {
        std::fprintf(stderr, "clipvault: --capture needs a FILE and its --origin URL\n%s", kUsage);
        request.done = true;
        request.exitCode = 2;
    }
    return request;
}

/// The application's names, icon and tray life.
void describeApplication()
{
    QApplication::setApplicationName(QStringLiteral("clipvault"));
    QApplication::setApplicationVersion(QStringLiteral(CLIPVAULT_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(CLIPVAULT_APP_ID));
    QApplication::setWindowIcon(Icons::application());
    // The program lives in the tray: hiding the last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
}

/// What the windows ask the user's browser, each question put to the browser to ask now: the
/// one whose window is in front, else the one the settings or Clip Vault's own profile name.
BrowserSources userBrowserSources(BrowserSessions& sessions, BrowserAccess& access,
                                  BrowserPorts ports, QString dataFolder)
{
    const auto userBrowser = [&access, ports, dataFolder] {
        return BrowserToAsk(access.FindBrowserFrame(), ports, dataFolder);
    };
    return {[&sessions, userBrowser](QObject* context, auto use) {
                sessions.GetAddressBarText(userBrowser(), context, std::move(use));
            },
            [&sessions, userBrowser](QObject* context, auto use) {
                sessions.FindTabMovies(userBrowser(), context, std::move(use));
            },
            [&sessions, userBrowser](const QString& url, const QString& target, QObject* context,
                                     auto use) {
                sessions.SaveLoadedMovie(userBrowser(), url, target, context, std::move(use));
            },
            [&sessions] {
                return sessions.companions().connectedNames();
            }};
}

/// Where a failed download looks next, before the web archive: the browser that showed the
/// movie, then a browser's cache.
void addCopyFallbacks(DownloadFlow& downloads, const BrowserSources& browser,
                      const QString& dataFolder)
{
    downloads.addFallback(
        [&browser](const QString& url, const QString& target, QObject* context, auto use) {
            browser.loadedMovie(url, target, context, [use](bool saved, const QString& error) {
                use({{},
                     QStringLiteral("the browser's copy"),
                     saved,
                     error.isEmpty()
                         ? QString()
                         : QStringLiteral("the browser's copy could not be saved: ") + error});
            });
        });
    downloads.addFallback(CachedCopyFallback([dataFolder] {
        return CacheEnumerator::DiscoverCaches(CacheEnumerator::ProfileFolders(dataFolder));
    }));
}

/// A background save that failed or found the log changed by someone else is told in the status
/// bar and in a notice.
void tellSaveTrouble(const CatalogueSaver& saver, TClipVaultMain& window, UserPrompt& prompt)
{
    QObject::connect(&saver, &CatalogueSaver::saveFailed, &window,
                     [&window, &prompt](const QString& error) {
                         const QString message =
                             error + QStringLiteral("\nClip Vault keeps the catalogue in memory "
                                                    "and tries again.");
                         window.showStatus(message);
                         prompt.inform(message, QStringLiteral("Clip Vault"));
                     });
    QObject::connect(&saver, &CatalogueSaver::keptAside, &window,
                     [&window, &prompt](const QString& notice) {
                         window.showStatus(notice);
                         prompt.inform(notice, QStringLiteral("Clip Vault"));
                     });
}

/// The hook window: the shared block and, while the shortcut bar is enabled, the pointer watch,
/// whose points go to the bar.
void createHookWindow(THookappForm& hookForm, Tvaultbar& bar, bool barEnabled)
{
    if (barEnabled && platform::isWayland())
        qInfo("Clip Vault: a Wayland desktop; the shortcut bar is the browser companion's, in "
              "the page (the pointer watch is off).");
    else if (barEnabled && !platform::isX11())
        qInfo("Clip Vault: no X11 display; the shortcut bar's pointer watch is off.");
    hookForm.FormCreate(barEnabled, platform::isX11());
    hookForm.setPointerHandler([&bar](QPoint point) { bar.HandlePointerNotify(point); });
}

/// Gives the command line its answer, one JSON document, and ends the connection; an asker that
/// gave up hears nothing.
void answerAsker(const QPointer<QLocalSocket>& asker, const QJsonObject& said)
{
    if (!asker)
        return;
    asker->write(QJsonDocument(said).toJson(QJsonDocument::Compact));
    asker->disconnectFromServer();
}

/// The command line's imports, made by the running program, whose catalogue it is: a blank
/// line now and then tells the asker the files are still being read, then the summary comes.
void answerImports(SingleInstance& instance, Vault& vault)
{
    instance.answerRequestWith(QByteArray(kImportRequest), [&vault](QLocalSocket& socket,
                                                                    const QByteArray& argument) {
        const QPointer<QLocalSocket> asker(&socket);
        auto* stillReading = new QTimer(&socket);
        QObject::connect(stillReading, &QTimer::timeout, &socket,
                         [&socket] { socket.write("\n"); });
        stillReading->start(kImportAliveMs);
        vault.imports().start(
            ImportRequestFromJson(argument), [asker, &vault](const ImportSummary& summary) {
                if (!asker)
                    return; // the asker gave up
                // Answered once the items are on disk: a program killed right after keeps them.
                vault.saver().whenSaved(asker, [asker, summary](bool saved, const QString& error) {
                    QJsonObject said = summary.toJson(kProblemsHanded);
                    if (!saved)
                        said.insert(QStringLiteral("notSaved"), error);
                    answerAsker(asker, said);
                });
            });
    });
}

/// The command line's catalogue changes, made in the running program's catalogue: answered once
/// the change is on disk, so that a program killed right after keeps it.
void answerCatalogueChanges(SingleInstance& instance, Vault& vault)
{
    instance.answerRequestWith(QByteArray(kCatalogueChangeRequest), [&vault](QLocalSocket& socket,
                                                                             const QByteArray&
                                                                                 argument) {
        const auto reply = [asker = QPointer<QLocalSocket>(&socket)](const QJsonObject& said) {
            answerAsker(asker, said);
        };
        const std::optional<CatalogueChange> change =
            CatalogueChange::fromJson(QJsonDocument::fromJson(argument).object());
        if (!change) {
            reply({{QStringLiteral("refused"), QStringLiteral("the change was not understood")}});
            return;
        }
        const ChangeOutcome outcome = ApplyCatalogueChange(vault.catalogue(), *change);
        if (!outcome.refused.isEmpty()) {
            reply({{QStringLiteral("refused"), outcome.refused}});
            return;
        }
        vault.saver().whenSaved(&socket, [reply](bool saved, const QString& error) {
            reply(saved ? QJsonObject() : QJsonObject{{QStringLiteral("notSaved"), error}});
        });
    });
}

/// Shows the main window as the start asks and starts the preview's web engine after it:
/// once the window is up, so that start-up stays fast, or on a start to play a movie, once that
/// movie shows, so that nothing competes with it.
void showAndStartPlayers(const StartRequest& start, TClipVaultMain& window, PlayerReserve& reserve,
                         const std::function<void(QString)>& playMovie)
{
    // The catalogue's preview then starts late, but its web view is made before the window is
    // first shown: the window is made anew for one, and would come up unminimized.
    if (start.movie)
        window.createPlayerView();
    window.showAtStart(start.movie.has_value());
    const auto startPreview = [&window] {
        window.startPlayer();
        window.showStartupNotice();
    };
    if (!start.movie) {
        QTimer::singleShot(0, &window, startPreview);
        QTimer::singleShot(kReserveAfterStartMs, &reserve, &PlayerReserve::prepare);
        return;
    }
    QObject::connect(&reserve, &PlayerReserve::takenPlayerSettled, &window, startPreview,
                     Qt::SingleShotConnection);
    // Started to play a movie: closing its player ends the program, unless the user has
    // brought up the catalogue meanwhile.
    QObject::connect(&reserve, &PlayerReserve::playerClosed, &window, [&window] {
        if (!window.isShownState())
            window.close();
    });
    playMovie(*start.movie);
    // A name that is no movie never shows: the rest starts in any case, a little later.
    QTimer::singleShot(kPreviewAtLatestMs, &window, [startPreview, &reserve] {
        startPreview();
        reserve.prepare();
    });
}

} // namespace

int main(int argc, char* argv[])
{
    const StartRequest start = readCommandLine(argc, argv);
    if (start.done)
        return start.exitCode;
    prepareEnvironment(start.pictures);
    // Qt WebEngine shares its OpenGL contexts with the widgets; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // A capture plays without a window: with no display at all, on the offscreen platform.
    if (start.capture && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program's own folder is where /proc/self/exe lies, as the application object reads it.
    const QString dataFolder =
        ResolveDataFolder(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath());
    // A later start hands its movie, or its wish to see the window, to the running program at
    // once, before it makes an application of its own (what it would otherwise wait for most).
    if (!start.capture && !start.pictures && SingleInstance::handOff(dataFolder, start.movie))
        return 0;
    QApplication app(argc, argv);
    describeApplication();
    if (start.pictures)
        return RunPictureMaker();

    // A capture is a run of its own: no catalogue, no tray, no single instance.
    if (start.capture)
        return RunCapture(*start.capture);

    // The termination handlers come before the data folder is taken: from then on a signal ends
    // the program through its event loop, with the catalogue saved once it has been read.
    UnixSignals signals_;

    SingleInstance instance(dataFolder);
    // A later start hands its movie, or its wish to see the window, to the running program.
    if (!instance.acquire(start.movie))
        return 0;

    QApplication::setOverrideCursor(Qt::BusyCursor);

    MessageBoxPrompt prompt;
    Vault vault(dataFolder, DefaultOptions(), prompt);
    VaultMovieServer movies(vault);
    // A notice open in its own event loop (even before the main loop runs) must not hold the
    // end: exit leaves every running loop, and the main loop is never entered afterwards.
    bool terminated = false;
    QObject::connect(&signals_, &UnixSignals::terminationRequested, &app, [&](int) {
        terminated = true;
        // First every running loop is told to end, and none starts again: a notice the save
        // brings up (the log was changed by another program) returns at once instead of
        // holding the end.
        QCoreApplication::exit(0);
        QString error;
        if (!vault.saveCatalogue(&error))
            std::fprintf(stderr, "clipvault: %s\n", qPrintable(error));
    });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &vault,
                     [&] { vault.saveCatalogue(); });

    // What the data folder holds is read before any window is made: the windows are views of it.
    vault.open();

    const std::unique_ptr<HotKey> hotKey = platform::createHotKey();
    const std::unique_ptr<Autostart> autostart = platform::createAutostart();
    const std::unique_ptr<DesktopOpen> desktop = platform::createDesktopOpen();
    QtFileDialogs dialogs;
    // The user's browser: where its windows are, from the window system, and what its pages
    // hold, through one session kept open. Neither ever holds the windows.
    const VaultSettings conf = LoadVaultSettings(dataFolder);
    const BrowserPorts configuredPorts{conf.debuggingPort, conf.firefoxPort};
    const std::unique_ptr<BrowserAccess> browserAccess =
        platform::createBrowserAccess(configuredPorts);
    BrowserSessions browserSession;
    const BrowserSources browser =
        userBrowserSources(browserSession, *browserAccess, configuredPorts, dataFolder);
    // A movie whose site no longer gives it may still be in the browser that showed it.
    addCopyFallbacks(vault.downloads(), browser, dataFolder);
    // What is inside the movies, read in the background for a search that looks there.
    MovieFactsKeeper facts(vault.catalogue(), dataFolder);
    QObject::connect(&vault.downloads(), &DownloadFlow::finished, &facts,
                     &MovieFactsKeeper::gather);
    QObject::connect(&vault.imports(), &ImportQueue::finished, &facts, &MovieFactsKeeper::gather);
    // A picture of every movie, drawn by the program's own helper mode in the background.
    PictureKeeper pictures(vault.catalogue(), QCoreApplication::applicationFilePath());
    QObject::connect(&vault.downloads(), &DownloadFlow::finished, &pictures,
                     &PictureKeeper::gather);
    QObject::connect(&vault.imports(), &ImportQueue::finished, &pictures, &PictureKeeper::gather);
    TClipVaultMain ClipVaultMain({vault, movies.server(), *hotKey, *autostart, *desktop, dialogs,
                                  browser, &facts, &pictures});
    // Last, a movie whose address is gone: the web archive's copy, its waits in the status bar.
    vault.downloads().addFallback(
        WebArchiveFallback(
            WebArchiveOf(conf), [&] { return vault.settings().lookInArchive; },
            [&](const QString& what) {
                ClipVaultMain.showStatus(QStringLiteral("Web archive: ") + what);
            }),
        true);
    prompt.setOwner(&ClipVaultMain);
    tellSaveTrouble(vault.saver(), ClipVaultMain, prompt);
    const std::unique_ptr<WindowFocus> windowFocus = platform::createWindowFocus();
    prompt.setWindowFocus(windowFocus.get());

    // The shortcut bar, hidden until the pointer finds a movie in the browser.
    Tvaultbar vaultbar(vault, *browserAccess, browserSession, dialogs);

    // The hook window: the shared block and, while the shortcut bar is enabled, the pointer watch.
    const std::unique_ptr<PointerHook> pointerHook = platform::createPointerHook();
    THookappForm HookappForm(*pointerHook, prompt,
                             SharedBlock::PathFor(qEnvironmentVariable("DISPLAY"), dataFolder));
    createHookWindow(HookappForm, vaultbar, vault.options().ShortcutBarEnabled != 0);

    // The hanging window: comes up with the main window, but is not put away with it.
    const auto showMainWindow = [&] {
        if (!ClipVaultMain.isShownState())
            ClipVaultMain.ToggleMainWindow();
    };
    TMiniForm MiniForm(ClipVaultMain.tray().menu(), showMainWindow);
    MiniForm.FormCreate(vault.options().HangingWindowVisible != 0);
    QObject::connect(&ClipVaultMain, &TClipVaultMain::shown, &MiniForm,
                     &TMiniForm::showWithMainWindow);
    TraySwitches switches(ClipVaultMain.actions(), vault, HookappForm, MiniForm);

    QObject::connect(&ClipVaultMain, &TClipVaultMain::closed, &app, &QCoreApplication::quit);
    QObject::connect(&instance, &SingleInstance::activationRequested, &ClipVaultMain,
                     showMainWindow);
    answerImports(instance, vault);
    answerCatalogueChanges(instance, vault);
    // The bars the browser companion draws in the user's everyday browser.
    CompanionBars companionBars(vault, dialogs, instance, browserSession.companions());

    // The stand-alone player for a movie from the desktop (the root folder: no movie).
    // Its player is one started ahead, so that a movie handed to the running program shows at
    // once.
    PlayerReserve reserve(movies.server(), dialogs);
    const auto playMovie = [&](const QString& movie) {
        reserve.play(movie.isEmpty() ? QStringLiteral("/") : movie);
    };
    QObject::connect(&instance, &SingleInstance::playRequested, &vault, playMovie);

    // A start to play a movie keeps the catalogue in the tray and brings up the player.
    showAndStartPlayers(start, ClipVaultMain, reserve, playMovie);
    QTimer::singleShot(kFactsAfterStartMs, &facts, &MovieFactsKeeper::gather);
    QTimer::singleShot(kPicturesAfterStartMs, &pictures, &PictureKeeper::gather);
    if (terminated)
        return 0;
    const int code = QApplication::exec();
    // Work still running is asked to stop and joined before the windows and the catalogue go.
    Background::finish();
    return code;
}
