#pragma once

#include <QElapsedTimer>
#include <QString>

#include "fetch.h"

class QTextStream;

namespace cli {

/// One line of progress on stderr for a long command, rewritten in place a few times a second,
/// and cleared when the command ends. Only when stderr is a terminal: a script reading the
/// tool's output sees nothing of it.
class TerminalProgress
{
public:
    explicit TerminalProgress(QTextStream& err);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    /// Whether anything is shown at all: a caller can spare itself making the text.
    bool shows() const { return m_terminal; }
    /// Clears the line, before the command writes its result.
    void clear();
    /// Shows `text` unless a line was shown less than kIntervalMs ago (`force`: shows it anyway).
    void show(const QString& text, bool force = false);

    static constexpr int kIntervalMs = 100;

private:
    QTextStream& m_err;
    const bool m_terminal;
    QElapsedTimer m_sinceShown;
    qsizetype m_shownWidth = 0;
};

/// "1.5 MiB of 3.0 MiB (50 %)", or "1.5 MiB" when the size is unknown.
QString TransferProgressText(qint64 received, qint64 total);

/// Runs the transfer `request` describes to its end on this thread, its progress on one line of
/// `err`.
transfer::Outcome TransferShowingProgress(const transfer::Request& request, QTextStream& err);

} // namespace cli
