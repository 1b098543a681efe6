#pragma once

#include <QString>

/// Starting the program with the desktop session.
class Autostart
{
public:
    virtual ~Autostart() = default;
    /// Switches starting with the session on (for `programPath`) or off. False when the entry
    /// could not be written or removed.
    virtual bool setEnabled(bool on, const QString& programPath) = 0;
    virtual bool isEnabled() const = 0;
};
