#pragma once

#include "hotkey.h"

#include <QDBusConnection>
#include <QString>
#include <QVariantMap>

class QDBusMessage;

/// F7 on a Wayland desktop, through the desktop's global shortcuts portal
/// (org.freedesktop.portal.GlobalShortcuts): a session is made and the shortcut bound in it with
/// F7 as its preferred trigger, described as "Show or hide Clip Vault". The desktop asks the user
/// the first time and lets them choose another key; the session ends with the program, so the
/// shortcut is bound at every start. Every step answers later, on the portal's Request object.
class PortalHotKey final : public HotKey
{
    Q_OBJECT
public:
    static constexpr char kShortcutId[] = "show-hide";
    static constexpr char kDescription[] = "Show or hide Clip Vault";
    static constexpr char kPreferredTrigger[] = "F7";

    explicit PortalHotKey(QDBusConnection bus = QDBusConnection::sessionBus(),
                          QObject* parent = nullptr);
    ~PortalHotKey() override;

    /// Asks the portal for a session and the shortcut; true when the portal is there to ask
    /// (whether it binds the key is heard later: bound() or unavailable()).
    bool registerKey() override;
    void unregisterKey() override;
    bool isRegistered() const override { return m_bound; }

signals:
    /// The shortcut is bound: the key works from now on.
    void bound();

private slots:
    void sessionResponse(uint response, const QVariantMap& results);
    void bindResponse(uint response, const QVariantMap& results);
    void activatedSignal(const QDBusMessage& message);

private:
    /// Calls a portal method whose answer comes on a Request object, heard by `slot`.
    bool request(const QString& method, QList<QVariant> arguments, const char* slot);
    void fail(const QString& why);

    QDBusConnection m_bus;
    QString m_session; ///< the session's object path, once made
    bool m_bound = false;
    int m_token = 0;
};
