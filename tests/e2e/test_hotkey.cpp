// F7 pressed for real: key events injected into the X server with XTest reach the program's
// grab on the root window, whichever window has the focus.

#include "clipvaultmain.h"
#include "fake/fakeautostart.h"
#include "fake/fakedesktopopen.h"
#include "hotkey.h"
#include "options.h"
#include "platformfactory.h"
#include "scriptedprompt.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

// Xlib's macros (None, Bool, Status …) clash with the headers above; it comes last.
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
        const KeyCode modifierCode = modifier == NoSymbol ? 0 : XKeysymToKeycode(m_display, modifier);
        if (modifierCode)
            XTestFakeKeyEvent(m_display, modifierCode, True, CurrentTime);
        XTestFakeKeyEvent(m_display, code, True, CurrentTime);
        XTestFakeKeyEvent(m_display, code, False, CurrentTime);
        if (modifierCode)
            XTestFakeKeyEvent(m_display, modifierCode, False, CurrentTime);
        XSync(m_display, False);
    }

private:
    Display* m_display;
};

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

class HotKeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::isX11());
        ASSERT_NE(keyboard.display(), nullptr);
        hotKey = platform::createHotKey();
        window = std::make_unique<TClipVaultMain>(
            MainWindowServices{folder.path(), options, prompt, *hotKey, autostart, desktop});
        window->showAtStart();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    QTemporaryDir folder;
    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    FakeAutostart autostart;
    FakeDesktopOpen desktop;
    Keyboard keyboard;
    std::unique_ptr<HotKey> hotKey;
    std::unique_ptr<TClipVaultMain> window;
};

} // namespace

TEST_F(HotKeyTest, F7HidesAndShowsTheWindow)
{
    ASSERT_TRUE(hotKey->isRegistered());
    EXPECT_TRUE(window->isShownState());

    keyboard.tap(XK_F7);
    EXPECT_TRUE(waitFor([&] { return !window->isShownState(); }));
    keyboard.tap(XK_F7);
    EXPECT_TRUE(waitFor([&] { return window->isShownState(); }));
    EXPECT_TRUE(window->isMaximized());
}

TEST_F(HotKeyTest, OnlyThePlainKeyIsTakenAndReleasingItLetsItGo)
{
    ASSERT_TRUE(hotKey->isRegistered());
    keyboard.tap(XK_F7, XK_Shift_L);
    QTest::qWait(300);
    EXPECT_TRUE(window->isShownState()) << "Shift+F7 belongs to the focused window";

    hotKey->unregisterKey();
    keyboard.tap(XK_F7);
    QTest::qWait(300);
    EXPECT_TRUE(window->isShownState()) << "a released key no longer toggles";

    ASSERT_TRUE(hotKey->registerKey());
    keyboard.tap(XK_F7);
    EXPECT_TRUE(waitFor([&] { return !window->isShownState(); }));
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
