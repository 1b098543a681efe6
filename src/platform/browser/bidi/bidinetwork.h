#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

/// The Flash movies Firefox's contexts fetched while the session watched, by their type or
/// their address; the oldest go first past kMaxLoaded.
class BidiNetworkWatch
{
public:
    static constexpr int kMaxLoaded = 500;

    /// Takes a network.responseCompleted event; others are not the watch's.
    void handleEvent(const QString& method, const QJsonObject& params);
    /// The addresses the given contexts fetched, oldest first.
    QStringList moviesOf(const QStringList& contexts) const;
    void clear() { m_loaded.clear(); }

private:
    QList<std::pair<QString, QString>> m_loaded; ///< context id, address
};
