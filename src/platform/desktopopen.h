#pragma once

#include <QString>
#include <QStringList>

/// Opens folders and files with the desktop's default program for them, and starts programs
/// apart from this one.
class DesktopOpen
{
public:
    virtual ~DesktopOpen() = default;
    /// False when the desktop could not open it.
    virtual bool open(const QString& path) = 0;
    /// Starts a program that outlives this one; false when it could not be started.
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
    /// The desktop entry of the program the desktop opens files of a MIME type with (for
    /// example "vlc.desktop"); empty when none is set.
    virtual QString defaultApplication(const QString& mimeType) = 0;
};
