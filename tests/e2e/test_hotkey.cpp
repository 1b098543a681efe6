// F7 pressed for real: key events injected into the X server with XTest reach the program's
// grab on the root window, whichever window has the focus.

#include "vault.h"
#include "vaultmovieserver.h"
#include "clipvaultmain.h"
#include "fake/fakeautostart.h"
#include "fake/fakedesktopopen.h"
#include "hotkey.h"
#include "options.h"
#include "platformfactory.h"
#include "scripteddialogs.h"
#include "scriptedprompt.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QList>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

// Xlib's macros (None, Bool, Status …) clash with the headers above; it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

/// A second client of the X server, standing for the user's keyboard.
class Keyboard
{
public:
    Keyboard()
        : m_display(XOpenDisplay(nullptr))
    {
    }
    ~Keyboard()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    Display* display() const { return m_display; }

    void tap(KeySym key, KeySym modifier = NoSymbol)
    {
        const KeyCode code = XKeysymToKeycode(m_display, key);
        const KeyCode modifierCode =
            modifier == NoSymbol ? 0 : XKeysymToKeycode(m_display, modifier);
        if (modifierCode)
            XTestFakeKeyEvent(m_display, modifierCode, True, CurrentTime);
        XTestFakeKeyEvent(m_display, code, True, CurrentTime);
        XTestFakeKeyEvent(m_display, code, False, CurrentTime);
        if (modifierCode)
            XTestFakeKeyEvent(m_display, modifierCode, False, CurrentTime);
        XSync(m_display, False);
    }

    /// Whether the window manager has framed the window and shows it maximized, not iconified.
    bool isShownMaximizedByWindowManager(WId window) const
    {
        const QList<Atom> extents = property(window, "_NET_FRAME_EXTENTS", XA_CARDINAL);
        const QList<Atom> state = property(window, "_NET_WM_STATE", XA_ATOM);
        const auto has = [&](const char* name) {
            return state.contains(XInternAtom(m_display, name, False));
        };
        return !extents.isEmpty() && has("_NET_WM_STATE_MAXIMIZED_VERT") &&
               has("_NET_WM_STATE_MAXIMIZED_HORZ") && !has("_NET_WM_STATE_HIDDEN");
    }

private:
    /// A window property of 32-bit items (Xlib hands them over as longs).
    QList<Atom> property(WId window, const char* name, Atom type) const
    {
        Atom actualType = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        QList<Atom> items;
        if (XGetWindowProperty(m_display, Window(window), XInternAtom(m_display, name, False), 0,
                               64, False, type, &actualType, &format, &count, &remaining,
                               &data) == Success &&
            data && format == 32) {
            const auto* values = reinterpret_cast<const Atom*>(data);
            items = QList<Atom>(values, values + count);
        }
        if (data)
            XFree(data);
        return items;
    }

    Display* m_display;
};

class HotKeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::isX11());
        ASSERT_NE(keyboard.display(), nullptr);
        hotKey = platform::createHotKey();
        app = std::make_unique<Vault>(folder.path(), options, prompt);
        app->open();
        movies = std::make_unique<VaultMovieServer>(*app);
        window = std::make_unique<TClipVaultMain>(
            MainWindowServices{*app, movies->server(), *hotKey, autostart, desktop, dialogs});
        window->showAtStart();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), 30000));
        waitUntilSettled();
    }

    /// The user presses F7 on a window they see: one the window manager has framed, shows
    /// maximized and has given the focus, and whose state the program has heard of. Pressed
    /// within the same instant, the manager's late handling of the previous change (its reports,
    /// or the window's activation, which waits for the window to be mapped) would cross the new
    /// one: an activation handled after the window was put away again brings it back.
    void waitUntilSettled()
    {
        ASSERT_TRUE(
            waitUntil([&] { return keyboard.isShownMaximizedByWindowManager(window->winId()); }));
        ASSERT_TRUE(waitUntil([&] {
            return window->isShownState() && window->isMaximized() && window->isActiveWindow();
        }));
    }

    QTemporaryDir folder;
    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    FakeAutostart autostart;
    FakeDesktopOpen desktop;
    Keyboard keyboard;
    ScriptedDialogs dialogs;
    std::unique_ptr<HotKey> hotKey;
    std::unique_ptr<Vault> app;
    std::unique_ptr<VaultMovieServer> movies;
    std::unique_ptr<TClipVaultMain> window;
};

} // namespace

TEST_F(HotKeyTest, F7HidesAndShowsTheWindow)
{
    ASSERT_TRUE(hotKey->isRegistered());
    keyboard.tap(XK_F7);
    EXPECT_TRUE(waitUntil([&] { return !window->isShownState(); }));
    keyboard.tap(XK_F7);
    EXPECT_TRUE(waitUntil([&] { return window->isShownState(); }));
    // The window manager maximizes the window back in its own time.
    EXPECT_TRUE(waitUntil([&] { return window->isMaximized(); }))
        << "the window comes back in the state it had";
}

TEST_F(HotKeyTest, OnlyThePlainKeyIsTakenAndReleasingItLetsItGo)
{
    // Key events reach the program in order. Each tap that must do nothing is followed by a
    // plain F7 that hides the window: had the first toggled too, the window would be shown.
    ASSERT_TRUE(hotKey->isRegistered());
    keyboard.tap(XK_F7, XK_Shift_L);
    keyboard.tap(XK_F7);
    EXPECT_TRUE(waitUntil([&] { return !window->isShownState(); }))
        << "Shift+F7 belongs to the focused window";
    keyboard.tap(XK_F7);
    ASSERT_TRUE(waitUntil([&] { return window->isShownState(); }));
    waitUntilSettled();

    hotKey->unregisterKey();
    keyboard.tap(XK_F7);
    ASSERT_TRUE(hotKey->registerKey());
    const QSignalSpy presses(hotKey.get(), &HotKey::activated);
    keyboard.tap(XK_F7);
    EXPECT_TRUE(waitUntil([&] { return !window->isShownState(); }))
        << "a released key no longer toggles; the key was heard " << presses.count()
        << " time(s) since, the window is " << (window->isVisible() ? "visible" : "hidden")
        << (window->isMinimized() ? " and minimized" : "");
}

TEST_F(HotKeyTest, AKeyHeldByAnotherProgramIsLeftToItSilently)
{
    hotKey->unregisterKey();
    Display* other = keyboard.display();
    const Window root = DefaultRootWindow(other);
    const KeyCode f7 = XKeysymToKeycode(other, XK_F7);
    XGrabKey(other, f7, 0, root, False, GrabModeAsync, GrabModeAsync);
    XSync(other, False);

    EXPECT_FALSE(hotKey->registerKey());
    EXPECT_FALSE(hotKey->isRegistered());
    EXPECT_TRUE(prompt.messages.empty());

    XUngrabKey(other, f7, 0, root);
    XSync(other, False);
    EXPECT_TRUE(hotKey->registerKey()) << "free again, the key can be taken";
}
