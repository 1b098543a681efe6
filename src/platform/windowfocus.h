#pragma once

#include <QtGlobal>

/// Which window of the desktop has the keyboard, and handing it back: the program's own boxes
/// take it from the browser for a moment, and give it back when they close, so that the next
/// movie in the browser brings the shortcut bar up without a click.
class WindowFocus
{
public:
    virtual ~WindowFocus() = default;
    /// The active window when it belongs to another program; 0 when it is one of this
    /// program's, or none, or unknown.
    virtual quint32 foreignActiveWindow() = 0;
    /// Asks the window manager to activate `window` again.
    virtual void activate(quint32 window) = 0;
};

/// Where there is no window system to ask: nothing is known, nothing changes.
class NoWindowFocus final : public WindowFocus
{
public:
    quint32 foreignActiveWindow() override { return 0; }
    void activate(quint32) override {}
};
