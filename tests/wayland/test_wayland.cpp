// Clip Vault as a Wayland client of a headless Weston: the main window comes up there, and F7
// through a stand-in for the desktop's global shortcuts portal hides and shows it.

#include "mainwindowfixture.h"
#include "platformfactory.h"
#include "standinportal.h"
#include "waituntil.h"
#include "wayland/portalhotkey.h"

#include <QGuiApplication>
#include <QWindow>

TEST(Wayland, TheMainWindowComesUpAsAWaylandClientAndF7FromThePortalHidesAndShowsIt)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    EXPECT_TRUE(platform::isWayland());

    QTemporaryDir folder;
    OptionsRecord options = DefaultOptions();
    ScriptedPrompt prompt;
    StandInPortal portal;
    ASSERT_TRUE(portal.serve());
    PortalHotKey hotKey(portal.programBus());
    FakeAutostart autostart;
    FakeDesktopOpen desktop;
    ScriptedDialogs dialogs;
    ClipVaultApp app(folder.path(), options, prompt);
    app.open();
    TClipVaultMain window(MainWindowServices{app, hotKey, autostart, desktop, dialogs, {}});
    window.showAtStart();
    ASSERT_TRUE(waitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }))
        << "the compositor never showed the window";

    // The shortcut the window bound at its start hides it, and the next press shows it again.
    ASSERT_TRUE(waitUntil([&] { return hotKey.isRegistered(); }));
    portal.press();
    ASSERT_TRUE(waitUntil([&] { return !window.isShownState(); }));
    EXPECT_FALSE(window.isVisible()) << "a Wayland client hides: it cannot undo a minimize";
    portal.press();
    ASSERT_TRUE(waitUntil([&] { return window.isShownState(); }));
    EXPECT_TRUE(waitUntil([&] { return window.windowHandle()->isExposed(); }));
    EXPECT_TRUE(prompt.messages.empty()) << "no notice while the shortcut works";
}
