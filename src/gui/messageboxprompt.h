#pragma once

#include "userprompt.h"

class QWidget;
class WindowFocus;

/// Asks and tells the user with the platform's standard message boxes.
class MessageBoxPrompt final : public UserPrompt
{
public:
    /// `owner` is the window the boxes are centred on; none centres them on the screen.
    explicit MessageBoxPrompt(QWidget* owner = nullptr);
    void setOwner(QWidget* owner) { m_owner = owner; }
    /// Lets each box give the keyboard back to the other program's window that had it (the
    /// browser) when it closes.
    void setWindowFocus(WindowFocus* focus) { m_focus = focus; }

    bool ask(const QString& text, const QString& caption) override;
    void inform(const QString& text, const QString& caption) override;
    /// The same box as inform, but window-modal and shown without waiting for OK.
    void notify(const QString& text, const QString& caption) override;

private:
    /// The other program's window that has the keyboard now, to hand it back after a box.
    quint32 foreignFocus() const;
    /// The window a box belongs to: none while the user is in another program (the browser),
    /// so that the box comes up alone over it instead of bringing the main window along.
    QWidget* ownerFor(quint32 foreignWindow) const;
    void giveFocusBack(quint32 window) const;

    QWidget* m_owner;
    WindowFocus* m_focus = nullptr;
};
