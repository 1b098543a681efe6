#pragma once

#include "devtools/debuggingport.h"
#include "devtools/devtoolsconnection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

/// A Chromium of a profile of its own, driven over a DevTools session of the caller's on its one
/// page, with the browser's own input events: for tests and benchmarks that need a real browser
/// (the program itself never needs the debugging port on the companion's route). `extra` adds
/// to its command line ("--headless=new", "--ozone-platform=wayland", "--load-extension=...").
class DrivenBrowser
{
public:
    DrivenBrowser(const QStringList& extra, const QProcessEnvironment& environment)
    {
        m_process.setProcessEnvironment(environment);
        m_process.start(QStandardPaths::findExecutable(QStringLiteral("chromium")),
                        QStringList{QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                                    QStringLiteral("--no-first-run"),
                                    QStringLiteral("--remote-debugging-port=0"),
                                    QStringLiteral("--user-data-dir=") + profile.path(),
                                    QStringLiteral("--window-size=1100,800"),
                                    QStringLiteral("about:blank")} +
                            extra);
    }
    ~DrivenBrowser()
    {
        m_connection.close();
        m_process.kill();
        m_process.waitForFinished();
    }

    /// Opens the session and attaches to the page; false when the browser never came up.
    bool open()
    {
        (void)QTest::qWaitFor(
            [&] { return m_connection.open(port()) == BrowserConnection::State::Ready; }, 60000);
        for (const QJsonValue& target : call(QStringLiteral("Target.getTargets"), {})
                                            .value(QStringLiteral("targetInfos"))
                                            .toArray()) {
            if (target.toObject().value(QStringLiteral("type")).toString() == u"page" &&
                target.toObject().value(QStringLiteral("url")).toString() == u"about:blank")
                m_session = call(QStringLiteral("Target.attachToTarget"),
                                 {{QStringLiteral("targetId"),
                                   target.toObject().value(QStringLiteral("targetId"))},
                                  {QStringLiteral("flatten"), true}})
                                .value(QStringLiteral("sessionId"))
                                .toString();
        }
        call(QStringLiteral("Emulation.setFocusEmulationEnabled"), {{"enabled", true}}, true);
        return !m_session.isEmpty();
    }

    /// The port the browser chose, as its profile names it (0 until then).
    quint16 port() const
    {
        return DebuggingPortFromCommandLine({QStringLiteral("--user-data-dir=") + profile.path()});
    }

    QJsonObject call(const QString& method, const QJsonObject& params, bool onPage = false)
    {
        std::optional<QJsonObject> result;
        m_connection.call(
            method, params, [&](const QJsonObject& reply) { result = reply; },
            onPage ? QJsonObject{{QStringLiteral("sessionId"), m_session}} : QJsonObject());
        (void)QTest::qWaitFor([&] { return result.has_value(); }, 10000);
        return result.value_or(QJsonObject());
    }
    QJsonValue evaluate(const QString& expression)
    {
        return call(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), expression},
                     {QStringLiteral("returnByValue"), true}},
                    true)
            .value(QStringLiteral("result"))
            .toObject()
            .value(QStringLiteral("value"));
    }
    /// Loads `url` and waits for its load event; the load's time in ms as the page measured it.
    double load(const QString& url)
    {
        call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}}, true);
        const QString ended =
            QStringLiteral(
                "location.href === %1 && performance.getEntriesByType('navigation')[0] && "
                "performance.getEntriesByType('navigation')[0].loadEventEnd")
                .arg(QString::fromUtf8(QJsonDocument(QJsonArray{url})
                                           .toJson(QJsonDocument::Compact)
                                           .mid(1)
                                           .chopped(1)));
        double took = 0;
        (void)QTest::qWaitFor(
            [&] {
                took = evaluate(ended).toDouble();
                return took > 0;
            },
            10000);
        return took;
    }
    void mouse(const char* type, QPoint at)
    {
        call(QStringLiteral("Input.dispatchMouseEvent"),
             {{QStringLiteral("type"), QLatin1String(type)},
              {QStringLiteral("x"), at.x()},
              {QStringLiteral("y"), at.y()},
              {QStringLiteral("button"), QStringLiteral("left")},
              {QStringLiteral("clickCount"), 1}},
             true);
    }
    /// Moves the pointer onto the page's background and waits for the bar to go (moves within
    /// one frame reach the page as one).
    void moveOff()
    {
        mouse("mouseMoved", {5, 5}); // left of and above every movie
        (void)QTest::qWaitFor(
            [&] {
                return evaluate(QStringLiteral("document.querySelector('clipvault-bar') === null"))
                    .toBool();
            },
            5000);
    }
    void key(const char* name, int code)
    {
        for (const char* type : {"rawKeyDown", "keyUp"})
            call(QStringLiteral("Input.dispatchKeyEvent"),
                 {{QStringLiteral("type"), QLatin1String(type)},
                  {QStringLiteral("key"), QLatin1String(name)},
                  {QStringLiteral("code"), QLatin1String(name)},
                  {QStringLiteral("windowsVirtualKeyCode"), code}},
                 true);
    }

    QTemporaryDir profile;

private:
    QProcess m_process;
    DevToolsConnection m_connection;
    QString m_session;
};
