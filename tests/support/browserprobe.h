#pragma once

#include "devtools/devtoolssession.h"
#include "waituntil.h"

#include <QJsonArray>
#include <QJsonValue>

#include <optional>

/// The test's own view into a real browser: a session of its own beside the program's, whose
/// questions the test waits for, events served meanwhile.
class BrowserProbe
{
public:
    QString address(quint16 port)
    {
        std::optional<QString> answer;
        m_session.GetAddressBarText({port}, &m_session, [&](const QString& a) { answer = a; });
        return waitUntil([&] { return answer.has_value(); }) ? *answer : QString();
    }

    std::optional<MovieAtPoint> movieAt(quint16 port, QPoint screen)
    {
        std::optional<std::optional<MovieAtPoint>> answer;
        const QMetaObject::Connection heard =
            QObject::connect(&m_session, &BrowserSession::located,
                             [&](QPoint point, const std::optional<MovieAtPoint>& movie) {
                                 if (point == screen)
                                     answer = movie;
                             });
        m_session.FindMovieAtPoint({port}, screen);
        const bool answered = waitUntil([&] { return answer.has_value(); });
        QObject::disconnect(heard);
        return answered ? *answer : std::nullopt;
    }

    /// Finds the movie under the point and pauses it; true when one is there.
    bool pauseAt(quint16 port, QPoint screen)
    {
        if (!movieAt(port, screen))
            return false;
        m_session.PauseMovieAtPoint(screen);
        return true;
    }

    QJsonValue evaluate(quint16 port, const QString& expression)
    {
        std::optional<QJsonValue> answer;
        m_session.evaluateInVisibleTab(port, expression, &m_session,
                                       [&](const QJsonValue& value) { answer = value; });
        return waitUntil([&] { return answer.has_value(); }) ? *answer : QJsonValue();
    }

    QJsonArray evaluateEverywhere(quint16 port, const QString& expression)
    {
        std::optional<QJsonArray> answer;
        m_session.evaluateInEveryTab(port, expression, &m_session,
                                     [&](const QJsonArray& values) { answer = values; });
        return waitUntil([&] { return answer.has_value(); }) ? *answer : QJsonArray();
    }

    /// The browser's own copy of a movie a tab loaded, as the session watched it.
    QByteArray loadedMovie(quint16 port, const QString& url)
    {
        std::optional<QByteArray> answer;
        m_session.FetchLoadedMovie({port}, url, &m_session,
                                   [&](const QByteArray& body) { answer = body; });
        return waitUntil([&] { return answer.has_value(); }) ? *answer : QByteArray();
    }

private:
    DevToolsSession m_session;
};
