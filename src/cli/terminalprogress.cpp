#include "terminalprogress.h"

#include "filetransfer.h"

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

transfer::Outcome TransferShowingProgress(const transfer::Request& request, QTextStream& err)
{
    // A blocking tool runs the transfer on its own thread: no worker, no event loop to wait in.
    class Shown final : public TransferWatcher
    {
    public:
        explicit Shown(QTextStream& err)
            : m_progress(err)
        {
        }
        bool cancelled() const override { return false; }
        void progress(qint64 total, qint64 read) override
        {
            if (m_progress.shows())
                m_progress.show(QStringLiteral("downloading: ") +
                                TransferProgressText(read, total));
        }

    private:
        TerminalProgress m_progress; // cleared when the transfer is over
    } shown(err);
    return transfer::Fetch(request, shown);
}

} // namespace cli
