#pragma once

#include "htmlscan.h"
#include "pagefetch.h"
#include "urlresolve.h" // IsMovieAddress, for the address box

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

class QElapsedTimer;

/// What one detection may hold and take.
struct DetectionLimits
{
    int maxRows = 100000;
    qsizetype maxTextBytes = qsizetype(256) << 20;
    int pageDeadlineMs = kPageDeadlineMs;
    int totalDeadlineMs = 10 * 60 * 1000;
    bool followFramesets = false; ///< also the frames of a "<frameset>" (archived pages)
};

/// The detection of the movies of a web page and of the pages in its frames, level by level:
/// the page is fetched and scanned, then the pages its frames show, then theirs. Each page's
/// references resolve against its own final address (after redirects); a page is fetched once
/// per detection; it stops after kMaxLevels levels or kMaxPages pages. Each page is read in the
/// encoding it declares (else windows-1252). What one detection holds is bounded whatever the
/// pages hold: at most `maxRows` movies of `maxTextBytes` bytes of text in all, each page within
/// its deadline, the whole within its own. Pages are fetched one after the other, on a thread of
/// the detection's own, and the next page of a level is on its way while the last is scanned
/// while the pages before it cannot fill the list; run() blocks (call it on a worker).
class PageDetection final
{
public:
    /// Fetches one page, giving up after `deadlineMs`. Called on the detection's fetch thread,
    /// one call at a time.
    using Fetch = std::function<PageReply(const QString& url, int deadlineMs)>;
    using Movies = std::function<void(const QStringList& addresses)>;

    static constexpr int kMaxLevels = 8;
    static constexpr int kMaxPages = 200;

    PageDetection(Fetch fetch, const std::atomic<bool>& cancelled, DetectionLimits limits = {});

    /// Runs the detection from `address`. `onMovies` hears the movies of each level once it is
    /// scanned, in the scanner's order. Returns the error of the fetch that ended it, or empty.
    QString run(const QString& address, const Movies& onMovies);

    int pagesFetched() const { return m_fetched; }
    /// Whether the first page's address no longer gives it (PageReply::gone).
    bool firstPageGone() const { return m_firstPageGone; }
    /// Why the detection listed less than the pages hold (a limit was reached), for the user;
    /// empty when nothing was left out.
    const QString& limitNotice() const { return m_limitNotice; }

private:
    /// The level's movies and frames from one fetched page's text.
    void scanPage(const PageDecoder& decoder, const QByteArray& text, const QString& address,
                  ScanResultList& movies, ScanResultList& frames) const;
    /// What the next page may take: its own deadline, within what is left of the whole's;
    /// nothing once the whole's is over.
    std::optional<int> pageDeadlineMs(const QElapsedTimer& clock) const;

    Fetch m_fetch;
    const std::atomic<bool>& m_cancelled;
    DetectionLimits m_limits;
    int m_fetched = 0;
    bool m_firstPageGone = false;
    QString m_limitNotice;
};

/// The address with "http://" before it when it names no scheme, as it is fetched.
QString WithDefaultScheme(const QString& address);

/// Whether the address-box text is a drive path ("C:…"), for which detection does nothing.
bool IsDrivePath(const QString& text);

/// A page's text as the detection scans it: split into lines as a text box loads them (a line
/// ends at CR, LF or CR LF and stops at its first NUL byte), joined by CR LF.
QByteArray MemoText(QByteArrayView bytes);
