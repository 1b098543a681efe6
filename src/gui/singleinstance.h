#pragma once

#include <QObject>

#include <memory>

class QLocalServer;
class QLockFile;

/// One running program per data folder. The first start holds a lock file in the data folder
/// and listens on a local socket; a later start tells it to come to the front and ends.
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString& dataFolder, QObject* parent = nullptr);
    ~SingleInstance() override;
    Q_DISABLE_COPY_MOVE(SingleInstance)

    /// Takes the data folder. False when another running program holds it; that program has
    /// then been asked to show its window.
    bool acquire();

signals:
    /// A later start asked this program to show its window.
    void activationRequested();

private:
    QString serverName() const;
    void acceptConnection();

    QString m_dataFolder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
