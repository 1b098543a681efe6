#include "bidiconnection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <utility>

namespace {

/// The value a script gave as JSON text (the page scripts answer plain data); undefined for
/// none or a thrown script.
QJsonValue jsonOf(const QJsonObject& evaluated)
{
    const QJsonObject value = evaluated.value(QStringLiteral("result")).toObject();
    if (evaluated.value(QStringLiteral("type")).toString() != u"success" ||
        value.value(QStringLiteral("type")).toString() != u"string")
        return QJsonValue(QJsonValue::Undefined);
    const QString text = value.value(QStringLiteral("value")).toString();
    return QJsonDocument::fromJson(QByteArray("[") + text.toUtf8() + ']').array().first();
}

} // namespace

void BidiConnection::end(std::function<void()> done)
{
    if (!isReady()) {
        QTimer::singleShot(0, this, std::move(done));
        return;
    }
    m_ending = true;
    call(QStringLiteral("session.end"), {}, [this, done = std::move(done)](const QJsonObject&) {
        close();
        done();
    });
}

void BidiConnection::evaluate(const QString& context, const QString& expression,
                              std::function<void(const QJsonValue&)> reply)
{
    // BiDi's own serialisation of objects is not needed: the scripts answer plain data.
    call(QStringLiteral("script.evaluate"),
         {{QStringLiteral("expression"),
           QString(QStringLiteral("JSON.stringify(") + expression + u')')},
          {QStringLiteral("target"), QJsonObject{{QStringLiteral("context"), context}}},
          {QStringLiteral("awaitPromise"), false},
          {QStringLiteral("resultOwnership"), QStringLiteral("none")}},
         [reply = std::move(reply)](const QJsonObject& result) { reply(jsonOf(result)); });
}

void BidiConnection::findSocket(quint16)
{
    openSocket(loopbackUrl(QStringLiteral("/session")));
}

bool BidiConnection::farewell()
{
    // Closing without ending: the session is ended on the way out, as far as it reaches.
    if (!std::exchange(m_ending, false))
        call(QStringLiteral("session.end"), {}, [](const QJsonObject&) {});
    return true;
}

void BidiConnection::greet()
{
    // Firefox keeps a session whose socket went before its answer came, and allows no other
    // until it ends: the question is never given up early, however slowly a Firefox that has
    // just started answers it.
    extendOpening(kSessionNewMs);
    call(
        QStringLiteral("session.new"), {{QStringLiteral("capabilities"), QJsonObject()}},
        [this](const QJsonObject& result) {
            if (state() != State::Opening)
                return;
            // Firefox allows one session: another holder keeps it from us.
            m_refused = result.value(QStringLiteral("sessionId")).toString().isEmpty();
            if (m_refused) {
                fail();
                return;
            }
            if (m_events.isEmpty()) {
                becomeReady();
                return;
            }
            call(QStringLiteral("session.subscribe"),
                 {{QStringLiteral("events"), QJsonArray::fromStringList(m_events)}},
                 [this](const QJsonObject&) { becomeReady(); });
        },
        {}, kSessionNewMs);
}
