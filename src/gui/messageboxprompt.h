#pragma once

#include "userprompt.h"

class QWidget;

/// Asks and tells the user with the platform's standard message boxes.
class MessageBoxPrompt final : public UserPrompt
{
public:
    /// `owner` is the window the boxes are centred on; none centres them on the screen.
    explicit MessageBoxPrompt(QWidget* owner = nullptr);
    void setOwner(QWidget* owner) { m_owner = owner; }

    bool ask(const QString& text, const QString& caption) override;
    void inform(const QString& text, const QString& caption) override;
    /// The same box as inform, but window-modal and shown without waiting for OK.
    void notify(const QString& text, const QString& caption) override;

private:
    QWidget* m_owner;
};
