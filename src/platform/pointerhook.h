#pragma once

#include <QObject>
#include <QPoint>

/// The desktop-wide pointer watch behind the shortcut bar: once installed, every pointer move
/// anywhere on the desktop is reported.
class PointerHook : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    /// False when the watch cannot be started (nothing is reported here).
    virtual bool install() = 0;
    /// Harmless when nothing is installed.
    virtual void remove() = 0;

signals:
    /// The pointer moved; the notification carries no point: it is in the shared block.
    void notified();
};
