#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

/// Opens folders and files with the desktop's default program for them, and starts programs
/// apart from this one.
class DesktopOpen
{
public:
    virtual ~DesktopOpen() = default;
    /// Hears, while `context` lives, that a program started ended within seconds having said
    /// why on its error output: the first line of what it said.
    using EndedAtOnce = std::function<void(const QString& firstErrorLine)>;
    /// False when the desktop could not open it.
    virtual bool open(const QString& path, QObject* context = nullptr,
                      EndedAtOnce endedAtOnce = {}) = 0;
    /// Starts a program that outlives this one; false when it could not be started.
    virtual bool startDetached(const QString& program, const QStringList& arguments,
                               QObject* context = nullptr, EndedAtOnce endedAtOnce = {}) = 0;
    /// Asks for the desktop entry of the program the desktop opens files of a MIME type with
    /// (for example "vlc.desktop"). `answer` hears it later, or empty when none is set or the
    /// desktop does not tell within seconds; it is not called once `context` is gone. Nothing
    /// waits for the answer.
    virtual void defaultApplication(const QString& mimeType, QObject* context,
                                    std::function<void(const QString& entry)> answer) = 0;
};
