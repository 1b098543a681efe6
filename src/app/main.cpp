// The program entry: one instance per data folder, the main window, the tray, and a catalogue
// saved on every way out (close, session end, termination signals).

#include "clipvaultmain.h"
#include "datafolder.h"
#include "hotkey.h"
#include "icons.h"
#include "messageboxprompt.h"
#include "options.h"
#include "platformfactory.h"
#include "singleinstance.h"
#include "unixsignals.h"
#include "autostart.h"

#include <cstdio>
#include <unistd.h>

#include <QApplication>
#include <QTimer>

namespace {

void prepareEnvironment()
{
    // Qt WebEngine's sandbox refuses to start as root, and GPU use fails under Xvfb and on
    // machines without drivers; the player needs neither.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

} // namespace

int main(int argc, char* argv[])
{
    prepareEnvironment();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("clipvault"));
    QApplication::setApplicationVersion(QStringLiteral(CLIPVAULT_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("clipvault"));
    QApplication::setWindowIcon(Icons::application());
    // The program lives in the tray: hiding the last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    const QString dataFolder = ResolveDataFolder(QCoreApplication::applicationDirPath());
    SingleInstance instance(dataFolder);
    if (!instance.acquire())
        return 0;

    QApplication::setOverrideCursor(Qt::BusyCursor);

    OptionsRecord options = DefaultOptions();
    MessageBoxPrompt prompt;
    const std::unique_ptr<HotKey> hotKey = platform::createHotKey();
    const std::unique_ptr<Autostart> autostart = platform::createAutostart();
    TClipVaultMain ClipVaultMain({dataFolder, options, prompt, *hotKey, *autostart});
    prompt.setOwner(&ClipVaultMain);

    QObject::connect(&ClipVaultMain, &TClipVaultMain::closed, &app, &QCoreApplication::quit);
    QObject::connect(&instance, &SingleInstance::activationRequested, &ClipVaultMain, [&] {
        if (!ClipVaultMain.isShownState())
            ClipVaultMain.ToggleMainWindow();
    });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &ClipVaultMain,
                     [&] { ClipVaultMain.saveCatalogue(); });
    UnixSignals signals_;
    QObject::connect(&signals_, &UnixSignals::terminationRequested, &app, [&](int) {
        QString error;
        if (!ClipVaultMain.saveCatalogue(&error))
            std::fprintf(stderr, "clipvault: %s\n", qPrintable(error));
        QCoreApplication::quit();
    });

    ClipVaultMain.showAtStart();
    QTimer::singleShot(0, &ClipVaultMain, [&] { ClipVaultMain.showStartupNotice(); });
    return QApplication::exec();
}
