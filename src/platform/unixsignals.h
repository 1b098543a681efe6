#pragma once

#include <QObject>

class QSocketNotifier;

/// Turns SIGTERM, SIGHUP and SIGINT into a Qt signal on the GUI thread, so that the program can
/// save its catalogue before it ends. One instance per process.
class UnixSignals final : public QObject
{
    Q_OBJECT
public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;
    Q_DISABLE_COPY_MOVE(UnixSignals)

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();
    QSocketNotifier* m_notifier = nullptr;
};
