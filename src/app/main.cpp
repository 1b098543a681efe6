// The program entry: one instance per data folder, the main window, the tray, and a catalogue
// saved on every way out (close, session end, termination signals).

#include "autostart.h"
#include "browseraccess.h"
#include "clipvaultapp.h"
#include "clipvaultmain.h"
#include "datafolder.h"
#include "desktopopen.h"
#include "devtools/devtoolssession.h"
#include "filedialogs.h"
#include "hookappform.h"
#include "hotkey.h"
#include "icons.h"
#include "messageboxprompt.h"
#include "miniform.h"
#include "options.h"
#include "platformfactory.h"
#include "pointerhook.h"
#include "singleinstance.h"
#include "traycontroller.h"
#include "trayswitches.h"
#include "unixsignals.h"
#include "vaultbar.h"

#include <cstdio>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

namespace {

void prepareEnvironment()
{
    // Qt WebEngine's sandbox refuses to start as root, and GPU use fails under Xvfb and on
    // machines without drivers; the player needs neither.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Without a GPU (no DRI device: a virtual display, a headless machine) Chromium's GPU process
    // only fails; software rendering is what works there.
    if (!QFileInfo::exists(QStringLiteral("/dev/dri")) &&
        qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
}

} // namespace

int main(int argc, char* argv[])
{
    prepareEnvironment();
    // Qt WebEngine shares its OpenGL contexts with the widgets; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("clipvault"));
    QApplication::setApplicationVersion(QStringLiteral(CLIPVAULT_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("clipvault"));
    QApplication::setWindowIcon(Icons::application());
    // The program lives in the tray: hiding the last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    // The termination handlers come before the data folder is taken: from then on a signal ends
    // the program through its event loop, with the catalogue saved once it has been read.
    UnixSignals signals_;

    const QString dataFolder = ResolveDataFolder(QCoreApplication::applicationDirPath());
    SingleInstance instance(dataFolder);
    if (!instance.acquire())
        return 0;

    QApplication::setOverrideCursor(Qt::BusyCursor);

    OptionsRecord options = DefaultOptions();
    MessageBoxPrompt prompt;
    ClipVaultApp vault(dataFolder, options, prompt);
    QObject::connect(&signals_, &UnixSignals::terminationRequested, &app, [&](int) {
        QString error;
        if (!vault.saveCatalogue(&error))
            std::fprintf(stderr, "clipvault: %s\n", qPrintable(error));
        QCoreApplication::quit();
    });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &vault,
                     [&] { vault.saveCatalogue(); });

    const std::unique_ptr<HotKey> hotKey = platform::createHotKey();
    const std::unique_ptr<Autostart> autostart = platform::createAutostart();
    const std::unique_ptr<DesktopOpen> desktop = platform::createDesktopOpen();
    QtFileDialogs dialogs;
    TClipVaultMain ClipVaultMain({vault, *hotKey, *autostart, *desktop, dialogs});
    prompt.setOwner(&ClipVaultMain);

    // The shortcut bar, hidden until the pointer finds a movie in the browser. It asks the window
    // system where the pointer is and the browser, through one session kept open, what is there.
    const std::unique_ptr<BrowserAccess> browserAccess =
        platform::createBrowserAccess(ConfiguredDebuggingPort(dataFolder));
    DevToolsSession browserSession;
    Tvaultbar vaultbar(vault, *browserAccess, browserSession, dialogs);

    // The hook window: the shared block and, while the shortcut bar is enabled, the pointer watch.
    const std::unique_ptr<PointerHook> pointerHook = platform::createPointerHook();
    THookappForm HookappForm(*pointerHook, prompt);
    if (options.ShortcutBarEnabled && !platform::isX11())
        qInfo("Clip Vault: no X11 display; the shortcut bar's pointer watch is off.");
    HookappForm.FormCreate(options.ShortcutBarEnabled != 0, platform::isX11());
    HookappForm.setPointerHandler([&](QPoint point) { vaultbar.HandlePointerNotify(point); });

    // The hanging window: comes up with the main window, but is not put away with it.
    const auto showMainWindow = [&] {
        if (!ClipVaultMain.isShownState())
            ClipVaultMain.ToggleMainWindow();
    };
    TMiniForm MiniForm(ClipVaultMain.tray().menu(), showMainWindow);
    MiniForm.FormCreate(options.HangingWindowVisible != 0);
    QObject::connect(&ClipVaultMain, &TClipVaultMain::shown, &MiniForm,
                     &TMiniForm::showWithMainWindow);
    TraySwitches switches(ClipVaultMain.actions(), vault, HookappForm, MiniForm);
    QObject::connect(&ClipVaultMain, &TClipVaultMain::optionsConfirmed, &switches,
                     &TraySwitches::applyOptions);

    QObject::connect(&ClipVaultMain, &TClipVaultMain::closed, &app, &QCoreApplication::quit);
    QObject::connect(&instance, &SingleInstance::activationRequested, &ClipVaultMain,
                     showMainWindow);

    ClipVaultMain.showAtStart();
    // The web engine behind the preview starts once the window is up, so that start-up stays fast.
    QTimer::singleShot(0, &ClipVaultMain, [&] {
        ClipVaultMain.startPlayer();
        ClipVaultMain.showStartupNotice();
    });
    return QApplication::exec();
}
