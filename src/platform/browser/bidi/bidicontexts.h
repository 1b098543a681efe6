#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class BidiConnection;

/// Firefox's tabs and the frames in them, of whatever site, as BiDi browsing contexts: a tab is
/// a context with its frames as "children", at every depth.
namespace BidiContexts {

QString idOf(const QJsonObject& context);
/// A context and the frames in it, at every depth, at most `limit`.
QList<QJsonObject> contextsOf(const QJsonObject& tab, int limit = 64);
/// The frame in context `parent` of `tab` whose document is at `src` (the only frame there when
/// none is: a frame that went elsewhere since its element named it); empty for none.
QString frameOf(const QJsonObject& tab, const QString& parent, const QString& src);

/// The visible tab of the browser on `port` (the tab that calls itself visible, else the first:
/// a covered window calls every tab hidden), or an empty object: once the session is ready,
/// within BrowserSession::kTabAnswerMs, never to a `context` that is gone.
void visibleTab(BidiConnection& connection, quint16 port, QObject* context,
                std::function<void(const QJsonObject& tab)> then);

} // namespace BidiContexts
