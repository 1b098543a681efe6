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
    /// Starts the watch, writing each point into the shared block at `blockPath`. False when
    /// it cannot be started (nothing is reported here).
    virtual bool install(const QString& blockPath) = 0;
    /// Harmless when nothing is installed.
    virtual void remove() = 0;

signals:
    /// The pointer moved; the notification carries no point: it is in the shared block.
    void notified();
};
