#include "xdgdesktopopen.h"

#include <QDesktopServices>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <utility>

bool XdgDesktopOpen::open(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void XdgDesktopOpen::defaultApplication(const QString& mimeType, QObject* context,
                                        std::function<void(const QString& entry)> answer)
{
    auto* query = new QProcess(context);
    // The first of the end, a failure and the deadline answers; the others find it done.
    auto answered = std::make_shared<bool>(false);
    const auto finish = [query, answer, answered](const QString& entry) {
        if (std::exchange(*answered, true))
            return;
        query->kill();
        query->deleteLater();
        answer(entry);
    };
    QObject::connect(query, &QProcess::finished, context,
                     [query, finish](int code, QProcess::ExitStatus how) {
                         finish(how == QProcess::NormalExit && code == 0
                                    ? QString::fromUtf8(query->readAllStandardOutput()).trimmed()
                                    : QString());
                     });
    QObject::connect(query, &QProcess::errorOccurred, context, [finish](QProcess::ProcessError) {
        finish({}); // no xdg-utils on this desktop
    });
    // A desktop that hangs has no answer either.
    QTimer::singleShot(kAnswerMs, query, [finish] { finish({}); });
    query->start(QStringLiteral("xdg-mime"),
                 {QStringLiteral("query"), QStringLiteral("default"), mimeType});
}

bool XdgDesktopOpen::startDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}
