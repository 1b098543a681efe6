#include "picturemaker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <sys/resource.h>

namespace {

/// Lets a helper go without waiting for it: it ends (killed, or once it read the end of its
/// input) and is reaped when it has, never on the window thread's time.
void letGo(QProcess* helper, bool kill)
{
    helper->disconnect();
    helper->setParent(nullptr);
    QObject::connect(helper, &QProcess::finished, helper, &QObject::deleteLater);
    QObject::connect(helper, &QProcess::errorOccurred, helper, [helper](QProcess::ProcessError) {
        if (helper->state() == QProcess::NotRunning)
            helper->deleteLater();
    });
    if (kill)
        helper->kill();
    else
        helper->closeWriteChannel(); // the helper ends once it has read the end
}

} // namespace

PictureMaker::PictureMaker(QString program, QObject* parent)
    : QObject(parent)
    , m_program(std::move(program))
{
    m_rest.setSingleShot(true);
    connect(&m_rest, &QTimer::timeout, this, &PictureMaker::rest);
}

PictureMaker::~PictureMaker()
{
    stop();
}

void PictureMaker::make(const QString& file, const QString& out, const QString& address)
{
    m_waiting.push_back({file, out, address});
    next();
}

void PictureMaker::stop()
{
    m_waiting.clear();
    m_current.reset();
    m_rest.stop();
    if (!m_helper)
        return;
    letGo(m_helper, true);
    m_helper = nullptr;
    m_answers.clear();
}

void PictureMaker::rest()
{
    // Nothing was asked for a while: the helper and its web engine give their memory and
    // their share of the processor back until the next picture.
    if (!m_helper || !isIdle())
        return;
    letGo(m_helper, false);
    m_helper = nullptr;
    m_answers.clear();
}

void PictureMaker::next()
{
    if (m_current)
        return;
    if (m_waiting.empty()) {
        m_rest.start(kRestAfterMs);
        return;
    }
    m_rest.stop();
    if (!m_helper) {
        m_helper = new QProcess(this);
        // Pictures are background work, all of it: the helper and every process its web
        // engine starts take the lowest priority from the start.
        m_helper->setChildProcessModifier([] { ::setpriority(PRIO_PROCESS, 0, 19); });
        // The web engine's notices are not the user's.
        m_helper->setStandardErrorFile(QProcess::nullDevice());
        connect(m_helper, &QProcess::readyReadStandardOutput, this, &PictureMaker::readAnswers);
        connect(m_helper, &QProcess::finished, this, &PictureMaker::helperEnded);
        connect(m_helper, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                helperEnded();
        });
        m_helper->start(m_program, {QStringLiteral("--make-pictures")});
    }
    m_current = m_waiting.front();
    m_waiting.pop_front();
    m_helper->write(QJsonDocument(QJsonObject{{QStringLiteral("file"), m_current->file},
                                              {QStringLiteral("out"), m_current->out},
                                              {QStringLiteral("address"), m_current->address}})
                        .toJson(QJsonDocument::Compact) +
                    '\n');
}

void PictureMaker::readAnswers()
{
    m_answers += m_helper->readAllStandardOutput();
    for (qsizetype end; (end = m_answers.indexOf('\n')) >= 0;) {
        const QJsonObject line = QJsonDocument::fromJson(m_answers.left(end)).object();
        m_answers.remove(0, end + 1);
        if (!m_current || line.value(QStringLiteral("file")).toString() != m_current->file)
            continue;
        answer(line.value(QStringLiteral("ok")).toBool(),
               line.value(QStringLiteral("reason")).toString());
    }
}

void PictureMaker::helperEnded()
{
    // The helper is made anew for the next movie; the one it drew is told as failed.
    const QString why = m_helper->error() == QProcess::FailedToStart
                            ? QStringLiteral("the picture helper %1 could not start").arg(m_program)
                            : QStringLiteral("the picture helper ended while drawing it");
    m_helper->disconnect(this);
    m_helper->deleteLater();
    m_helper = nullptr;
    m_answers.clear();
    if (m_current)
        answer(false, why);
}

void PictureMaker::answer(bool ok, const QString& reason)
{
    const Request done = *m_current;
    m_current.reset();
    emit made(done.file, ok, reason);
    next();
}
