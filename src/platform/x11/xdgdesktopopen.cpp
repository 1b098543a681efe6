#include "xdgdesktopopen.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <csignal>
#include <memory>
#include <utility>

bool XdgDesktopOpen::open(const QString& path, QObject* context, EndedAtOnce endedAtOnce)
{
    // Through xdg-open, watched, when someone wants to hear of a failure; Qt's own way hides it.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (endedAtOnce && context && !opener.isEmpty())
        return startDetached(opener, {path}, context, std::move(endedAtOnce));
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

namespace {

/// The last few lines a program wrote to `file`: it says why it ended last, after its warnings.
QString lastLinesOf(QFile& file)
{
    constexpr qint64 kTail = 4096;
    constexpr int kLines = 4;
    file.seek(std::max<qint64>(0, file.size() - kTail));
    QStringList lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            lines << QString::fromLocal8Bit(line).trimmed();
    }
    return lines.mid(std::max<qsizetype>(0, lines.size() - kLines)).join(u'\n');
}

} // namespace

bool XdgDesktopOpen::startDetached(const QString& program, const QStringList& arguments,
                                   QObject* context, EndedAtOnce endedAtOnce)
{
    if (!endedAtOnce || !context)
        return QProcess::startDetached(program, arguments);
    // Its error output goes to a file of ours, read if it ends within seconds; after that it is
    // left alone (its later messages go nowhere, as a detached program's do).
    auto errors = std::make_shared<QTemporaryFile>();
    if (!errors->open())
        return QProcess::startDetached(program, arguments);
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardErrorFile(errors->fileName());
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        return false;
    auto* watch = new QTimer(context);
    auto since = std::make_shared<QElapsedTimer>();
    since->start();
    QObject::connect(watch, &QTimer::timeout, context,
                     [watch, errors, since, pid, endedAtOnce = std::move(endedAtOnce)] {
                         const bool running = ::kill(static_cast<pid_t>(pid), 0) == 0;
                         if (running && since->elapsed() < kAtOnceMs)
                             return;
                         watch->deleteLater();
                         if (running)
                             return;
                         const QString said = lastLinesOf(*errors);
                         if (!said.isEmpty())
                             endedAtOnce(said);
                     });
    watch->start(100);
    return true;
}
