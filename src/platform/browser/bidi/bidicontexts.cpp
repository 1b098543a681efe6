#include "bidicontexts.h"

#include "bidiconnection.h"
#include "browsersession.h"
#include "gathering.h"

#include <QJsonArray>
#include <QTimer>

#include <memory>

namespace BidiContexts {

QString idOf(const QJsonObject& context)
{
    return context.value(QStringLiteral("context")).toString();
}

QList<QJsonObject> contextsOf(const QJsonObject& tab, int limit)
{
    QList<QJsonObject> contexts{tab};
    for (qsizetype i = 0; i < contexts.size() && contexts.size() < limit; ++i) {
        for (const QJsonValue& child : contexts[i].value(QStringLiteral("children")).toArray())
            contexts << child.toObject();
    }
    return contexts;
}

QString frameOf(const QJsonObject& tab, const QString& parent, const QString& src)
{
    for (const QJsonObject& context : contextsOf(tab)) {
        if (idOf(context) != parent)
            continue;
        const QJsonArray children = context.value(QStringLiteral("children")).toArray();
        for (const QJsonValue& child : children) {
            if (child.toObject().value(QStringLiteral("url")).toString() == src)
                return idOf(child.toObject());
        }
        return children.size() == 1 ? idOf(children.first().toObject()) : QString();
    }
    return {};
}

void visibleTab(BidiConnection& connection, quint16 port, QObject* context,
                std::function<void(const QJsonObject& tab)> then)
{
    auto found = std::make_shared<Gathering<QJsonObject>>();
    found->context = context;
    found->answer = std::move(then);
    QTimer::singleShot(BrowserSession::kTabAnswerMs, &connection, [found] { found->give(); });
    BidiConnection* const session = &connection;
    const auto ask = [session, found] {
        session->call(QStringLiteral("browsingContext.getTree"), {},
                      [session, found](const QJsonObject& tree) {
                          const QJsonArray tabs = tree.value(QStringLiteral("contexts")).toArray();
                          if (tabs.isEmpty()) {
                              found->give();
                              return;
                          }
                          found->collected = tabs.first().toObject();
                          found->waiting = static_cast<int>(tabs.size());
                          for (const QJsonValue& tab : tabs) {
                              session->evaluate(idOf(tab.toObject()),
                                                QStringLiteral("document.visibilityState"),
                                                [found, tab](const QJsonValue& state) {
                                                    if (state.toString() == u"visible") {
                                                        found->collected = tab.toObject();
                                                        found->give();
                                                    } else {
                                                        found->done();
                                                    }
                                                });
                          }
                      });
    };
    switch (connection.open(port)) {
    case BrowserConnection::State::Ready:
        ask();
        break;
    case BrowserConnection::State::Opening: {
        // Once the session is there; a session that fails leaves the deadline to answer, and
        // the question is not asked of a later one.
        auto ready = std::make_shared<QMetaObject::Connection>();
        auto closed = std::make_shared<QMetaObject::Connection>();
        *ready = QObject::connect(&connection, &BrowserConnection::ready, &connection,
                                  [ready, closed, ask] {
                                      QObject::disconnect(*ready);
                                      QObject::disconnect(*closed);
                                      ask();
                                  });
        *closed =
            QObject::connect(&connection, &BrowserConnection::closed, &connection, [ready, closed] {
                QObject::disconnect(*ready);
                QObject::disconnect(*closed);
            });
        break;
    }
    case BrowserConnection::State::Closed:
    case BrowserConnection::State::Failed:
        QTimer::singleShot(0, &connection, [found] { found->give(); });
        break;
    }
}

} // namespace BidiContexts
