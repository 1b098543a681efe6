#pragma once

#include "browserconnection.h"

#include <QByteArray>
#include <QString>

#include <functional>

/// The browser's DevTools endpoint: its socket named by /json/version (or by the profile's
/// DevToolsActivePort), and every target it has told of once the socket is open.
class DevToolsConnection final : public BrowserConnection
{
public:
    using BrowserConnection::BrowserConnection;

    /// The most the endpoint's HTTP side may send: a version or a list of a few pages.
    static constexpr qint64 kMaxListBytes = 1 << 20;

    /// The body of a reply from the endpoint's HTTP side, or nothing when it failed, went past
    /// kMaxListBytes or the connection closed meanwhile.
    void fetchJson(const QString& path, std::function<void(const QByteArray&)> done);

    /// The browser endpoint named by the browser's profile, tried when /json/version names
    /// none.
    void setProfileSocketPath(const QString& path) { m_profilePath = path; }
    /// How the socket was found: "/json/version" or "DevToolsActivePort".
    QString route() const { return m_route; }

protected:
    void findSocket(quint16 port) override;
    void greet() override;

private:
    QString m_profilePath;
    QString m_route;
};
