#pragma once

#include "desktopopen.h"

#include <QStringList>

/// Records what the program asked the desktop to open, for tests.
class FakeDesktopOpen final : public DesktopOpen
{
public:
    bool open(const QString& path) override
    {
        opened << path;
        return true;
    }
    QStringList opened;
};
