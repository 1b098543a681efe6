#include "portalhotkey.h"

#include "activationtoken.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QtDebug>

namespace {

const char kService[] = "org.freedesktop.portal.Desktop";
const char kPath[] = "/org/freedesktop/portal/desktop";
const char kInterface[] = "org.freedesktop.portal.GlobalShortcuts";
const char kRequestInterface[] = "org.freedesktop.portal.Request";

/// One shortcut as BindShortcuts takes it: (id, {description, preferred_trigger}).
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

/// The name a Request object of this connection gets for `token` (the portal's convention):
/// /org/freedesktop/portal/desktop/request/SENDER/TOKEN, SENDER the unique name without its
/// colon and with dots as underscores.
QString requestPath(const QDBusConnection& bus, const QString& token)
{
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

PortalHotKey::PortalHotKey(QDBusConnection bus, QObject* parent)
    : HotKey(parent)
    , m_bus(std::move(bus))
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
}

PortalHotKey::~PortalHotKey()
{
    unregisterKey();
}

bool PortalHotKey::registerKey()
{
    if (m_bound || !m_session.isEmpty())
        return true;
    if (!m_bus.isConnected() || !m_bus.interface() ||
        !m_bus.interface()->isServiceRegistered(QLatin1String(kService)).value()) {
        fail(QStringLiteral("the desktop has no global shortcuts portal"));
        return false;
    }
    const QString sessionToken = QStringLiteral("clipvault%1").arg(++m_token);
    return request(QStringLiteral("CreateSession"),
                   {QVariantMap{{QStringLiteral("session_handle_token"), sessionToken}}},
                   SLOT(sessionResponse(uint, QVariantMap)));
}

void PortalHotKey::unregisterKey()
{
    if (m_session.isEmpty())
        return;
    // Closing the session gives the shortcut back; the portal closes it with the connection too.
    m_bus.call(QDBusMessage::createMethodCall(QLatin1String(kService), m_session,
                                              QStringLiteral("org.freedesktop.portal.Session"),
                                              QStringLiteral("Close")),
               QDBus::NoBlock);
    m_bus.disconnect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                     QStringLiteral("Activated"), this, SLOT(activatedSignal(QDBusMessage)));
    m_session.clear();
    m_bound = false;
}

bool PortalHotKey::request(const QString& method, QList<QVariant> arguments, const char* slot)
{
    const QString token = QStringLiteral("clipvault%1").arg(++m_token);
    // The answer's Request object is listened to before the call, so that no answer is missed.
    const QString path = requestPath(m_bus, token);
    m_bus.connect(QLatin1String(kService), path, QLatin1String(kRequestInterface),
                  QStringLiteral("Response"), this, slot);
    QVariantMap options = arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface), method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, method](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (finished->isError())
                    fail(QStringLiteral("the portal refused %1: %2")
                             .arg(method, finished->error().message()));
            });
    return true;
}

void PortalHotKey::sessionResponse(uint response, const QVariantMap& results)
{
    if (response != 0) {
        fail(QStringLiteral("the desktop made no shortcut session"));
        return;
    }
    m_session = results.value(QStringLiteral("session_handle")).toString();
    m_bus.connect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                  QStringLiteral("Activated"), this, SLOT(activatedSignal(QDBusMessage)));
    const QList<PortalShortcut> shortcuts{
        {QLatin1String(kShortcutId),
         {{QStringLiteral("description"), QLatin1String(kDescription)},
          {QStringLiteral("preferred_trigger"), QLatin1String(kPreferredTrigger)}}}};
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts),
             QString(), QVariantMap()},
            SLOT(bindResponse(uint, QVariantMap)));
}

void PortalHotKey::bindResponse(uint response, const QVariantMap&)
{
    if (response != 0) {
        // 1: the user declined; 2: the desktop ended it.
        fail(response == 1 ? QStringLiteral("the shortcut was declined")
                           : QStringLiteral("the desktop did not bind the shortcut"));
        return;
    }
    m_bound = true;
    emit bound();
}

void PortalHotKey::activatedSignal(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || !m_bound ||
        arguments[0].value<QDBusObjectPath>().path() != m_session ||
        arguments[1].toString() != QLatin1String(kShortcutId))
        return;
    // The press is the user's: the window the press shows may take the focus with it.
    const QVariantMap options = qdbus_cast<QVariantMap>(arguments.value(3));
    platform::useActivationToken(options.value(QStringLiteral("activation_token")).toString());
    emit activated();
}

void PortalHotKey::fail(const QString& why)
{
    qInfo("Clip Vault: the F7 shortcut is off (%s).", qPrintable(why));
    unregisterKey();
    emit unavailable(why);
}
