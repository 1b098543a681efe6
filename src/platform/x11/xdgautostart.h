#pragma once

#include "autostart.h"

/// Starting with the session through an XDG autostart entry,
/// $XDG_CONFIG_HOME/autostart/clipvault.desktop, whose Exec= is the program's full path.
/// Removing the entry switches it off.
class XdgAutostart final : public Autostart
{
public:
    bool setEnabled(bool on, const QString& programPath) override;
    bool isEnabled() const override;

    static QString entryPath();
};
