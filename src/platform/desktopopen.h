#pragma once

#include <QString>

/// Opens folders and files with the desktop's default program for them.
class DesktopOpen
{
public:
    virtual ~DesktopOpen() = default;
    /// False when the desktop could not open it.
    virtual bool open(const QString& path) = 0;
};
