#pragma once

#include <QObject>

/// The program's system-wide hot key: the plain F7 key, without modifiers. A key another
/// program holds already is left to it silently.
class HotKey : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    /// Takes the key. False when it could not be taken (nothing is reported).
    virtual bool registerKey() = 0;
    /// Gives the key back; harmless when it is not held.
    virtual void unregisterKey() = 0;
    virtual bool isRegistered() const = 0;

signals:
    /// F7 was pressed, whichever window had the focus.
    void activated();
    /// The key cannot be had at all (a Wayland desktop without the shortcuts portal, or whose
    /// user declined it): why, for the user. A key another program holds is not told.
    void unavailable(const QString& why);
};
