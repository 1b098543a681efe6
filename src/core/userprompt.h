#pragma once

#include <QString>

/// Everything the catalogue must ask or tell the user goes through this interface: the GUI
/// answers with message boxes, the command-line tool by its flags, tests with a script.
class UserPrompt
{
public:
    virtual ~UserPrompt() = default;
    /// A Yes/No question; true only for Yes.
    virtual bool ask(const QString& text, const QString& caption) = 0;
    /// A message with one OK button; returns when the user has read it.
    virtual void inform(const QString& text, const QString& caption) = 0;
    /// A message that must not hold the caller (the outcome of a background download): it may
    /// still be on screen when this returns.
    virtual void notify(const QString& text, const QString& caption) { inform(text, caption); }
};
