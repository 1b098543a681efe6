#include "terminalprogress.h"

#include "httpget.h"

#include <QLocale>
#include <QTextStream>

#include <unistd.h>

namespace cli {

TerminalProgress::TerminalProgress(QTextStream& err)
    : m_err(err)
    , m_terminal(::isatty(STDERR_FILENO) == 1)
{
}

TerminalProgress::~TerminalProgress()
{
    clear();
}

void TerminalProgress::clear()
{
    if (m_shownWidth > 0)
        m_err << '\r' << QString(m_shownWidth, u' ') << '\r' << Qt::flush;
    m_shownWidth = 0;
}

void TerminalProgress::show(const QString& text, bool force)
{
    if (!m_terminal || (!force && m_sinceShown.isValid() && !m_sinceShown.hasExpired(kIntervalMs)))
        return;
    m_sinceShown.start();
    // Padded over what the longer line before it left.
    m_err << '\r' << text.leftJustified(m_shownWidth) << Qt::flush;
    m_shownWidth = text.size();
}

QString TransferProgressText(qint64 received, qint64 total)
{
    const QLocale english(QLocale::English);
    const QString got = english.formattedDataSize(received, 1, QLocale::DataSizeTraditionalFormat);
    if (total <= 0)
        return got;
    return QStringLiteral("%1 of %2 (%3 %)")
        .arg(got, english.formattedDataSize(total, 1, QLocale::DataSizeTraditionalFormat))
        .arg(received * 100 / total);
}

qint64 TransferShowingProgress(THTTPGet& get, QTextStream& err)
{
    get.WaitThread = true;
    qint64 size = -1;
    const QMetaObject::Connection done = QObject::connect(
        &get, &THTTPGet::OnDoneFile, [&](const QString&, qint64 fileSize) { size = fileSize; });
    TerminalProgress progress(err);
    const QMetaObject::Connection shown =
        QObject::connect(&get, &THTTPGet::OnProgress, [&](qint64 total, qint64 received) {
            progress.show(QStringLiteral("downloading: ") + TransferProgressText(received, total));
        });
    get.StartTransfer();
    QObject::disconnect(done);
    QObject::disconnect(shown);
    progress.clear();
    return size;
}

} // namespace cli
