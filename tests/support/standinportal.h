#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>

/// A session bus of the test's own (a dbus-daemon it starts and stops), where a stand-in for the
/// desktop's global shortcuts portal may answer: it records the shortcuts bound, answers each
/// request with `response` (0 bound, 1 declined by the user), and sends Activated on demand.
class StandInPortal final : public QDBusVirtualObject
{
public:
    StandInPortal()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
        if (m_daemon.waitForReadyRead(10000))
            m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    }
    ~StandInPortal() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
        QDBusConnection::disconnectFromBus(QStringLiteral("program"));
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    /// The program's connection to the bus.
    QDBusConnection programBus() const
    {
        return QDBusConnection::connectToBus(m_address, QStringLiteral("program"));
    }
    /// Puts the portal on the bus.
    bool serve()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("portal"));
        return bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), this) &&
               bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }

    /// Presses the shortcut bound in the session last made; the desktop hands `token` over for
    /// bringing a window forward.
    void press(const QString& token = {})
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(m_session)) << boundIds.value(0) << quint64(0)
               << (token.isEmpty() ? QVariantMap()
                                   : QVariantMap{{QStringLiteral("activation_token"), token}});
        QDBusConnection(QStringLiteral("portal")).send(signal);
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QList<QVariant> arguments = message.arguments();
        if (arguments.isEmpty())
            return false;
        const QVariantMap options = qdbus_cast<QVariantMap>(arguments.last());
        QString sender = message.service().mid(1);
        sender.replace(u'.', u'_');
        const QString request =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QVariantMap results;
        if (message.member() == u"CreateSession") {
            m_session =
                QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                    .arg(sender, options.value(QStringLiteral("session_handle_token")).toString());
            results.insert(QStringLiteral("session_handle"), m_session);
        } else if (message.member() == u"BindShortcuts") {
            const QDBusArgument shortcuts = arguments.value(1).value<QDBusArgument>();
            shortcuts.beginArray();
            while (!shortcuts.atEnd()) {
                QString id;
                QVariantMap properties;
                shortcuts.beginStructure();
                shortcuts >> id >> properties;
                shortcuts.endStructure();
                boundIds << id;
                boundProperties << properties;
            }
            shortcuts.endArray();
        }
        QDBusMessage answer = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        answer << (message.member() == u"BindShortcuts" ? response : 0u) << results;
        connection.send(answer);
        return true;
    }

    uint response = 0;
    QStringList boundIds;
    QList<QVariantMap> boundProperties;

private:
    QProcess m_daemon;
    QString m_address;
    QString m_session;
};
