#pragma once

#include "datafolder.h"
#include "fetch.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

// The web archive (the Wayback Machine and archives that speak as it does), asked politely: its
// CDX index for the captures of an address, its raw captures ("<timestamp>id_") for the bytes as
// they were served. One request at a time, spaced by ArchivePace across every process of the
// user, and a 429 or 503 waited out, never retried at once.

/// The archive's address: CLIPVAULT_ARCHIVE_URL, else "archiveurl" in clipvault.conf, else
/// https://web.archive.org. Never ends in "/".
QString WebArchiveAddress(const VaultSettings& settings);
inline constexpr int kArchivePaceMs = 2500;

/// Where lost files are looked for: the archive's address (empty: nowhere) and its pacing.
struct ArchiveAccess
{
    QString address;
    int paceMs = kArchivePaceMs;
    bool isOn() const { return !address.isEmpty(); }
};
/// The archive clipvault.conf names, paced as it says ("archivepace", for test stand-ins),
/// whether or not lost movies are looked for there.
ArchiveAccess WebArchiveOf(const VaultSettings& settings);
/// The same, or none when "archive" is off.
ArchiveAccess ArchiveAccessOf(const VaultSettings& settings);
/// The data folder's archive, or none when "archive" is off there.
ArchiveAccess ArchiveAccessOf(const QString& dataFolder);

/// The spacing of requests to the archive, kept in a small state file that the program and
/// the command-line tool share (the time before which nobody sends), taken under a file lock.
class ArchivePace
{
public:
    explicit ArchivePace(int spacingMs, QString stateFile = defaultStateFile());
    /// The state file in the user's cache folder.
    static QString defaultStateFile();

    /// Takes the next turn: how many milliseconds to wait before sending.
    qint64 reserveTurn();
    /// Nobody sends before `ms` from now (the archive asked to wait).
    void holdOff(qint64 ms);
    /// The turn taken last was not used (nothing reached the archive): it is given back when no
    /// one took a later one meanwhile.
    void giveBack();

private:
    template <typename Change>
    qint64 update(Change&& change);

    int m_spacingMs;
    QString m_stateFile;
    qint64 m_reservedFrom = -1;
    qint64 m_reservedUntil = -1;
};

/// One capture as the index lists it.
struct ArchiveCapture
{
    QString original;  ///< the address as it was captured
    QString timestamp; ///< YYYYMMDDhhmmss
    QString mimetype;
    int status = 0;
    qint64 length = -1;

    /// Whether it is a Flash movie by its type, or by its address ending in ".swf" before any
    /// query.
    bool looksLikeMovie() const;
};

/// The rows of a CDX answer in JSON (its first row names the columns); a resume key after the
/// rows, when given, goes to `resumeKey`. Nothing for what is no such answer.
std::optional<QList<ArchiveCapture>> ParseCdxJson(const QByteArray& json,
                                                  QString* resumeKey = nullptr);

/// "15 March 2009" for a timestamp.
QString CaptureDateText(const QString& timestamp);
QDateTime CaptureTime(const QString& timestamp);

/// A movie's bytes from the archive, and which capture gave them.
struct ArchivedCopy
{
    QByteArray body;
    QString captureUrl; ///< "<archive>/web/<timestamp>id_/<original>"
    QString timestamp;
};

/// The archive's answers, asked on the calling thread (run it on a worker).
class WebArchive
{
public:
    /// Hears every wait: what is waited for, in words for the status bar or stderr.
    using Waiting = std::function<void(const QString& what)>;
    WebArchive(QString address, ArchivePace& pace, const std::atomic<bool>& cancelled,
               Waiting waiting = {});

    /// The newest capture of exactly this address whose bytes begin as a Flash movie does,
    /// trying the newest three captures with status 200. Nothing with the reason in `error`
    /// ("" when the archive simply has none).
    std::optional<ArchivedCopy> newestMovie(const QString& address, QString* error);
    /// The newest capture of a page (any type), for a page that no longer answers.
    std::optional<ArchivedCopy> newestCapture(const QString& address, qint64 maxBytes,
                                              QString* error, const QString& near = {});

    /// The Flash movies the archive holds under an address or folder, each address once with its
    /// newest capture, paging through the index; `found` hears the count after each page. At
    /// most 100 pages or 10 minutes: a listing stopped so gives what it found, and says so in
    /// `cutShort`.
    std::optional<QList<ArchiveCapture>> moviesUnder(const QString& prefix,
                                                     const std::function<void(int)>& found,
                                                     QString* error, QString* cutShort = nullptr);

    /// How many requests went to the archive.
    int requestCount() const { return m_requests; }
    QString captureUrl(const QString& timestamp, const QString& original) const;

private:
    struct Answer
    {
        bool reached = false; ///< the archive answered at all
        int status = 0;
        QByteArray body;
        QString error;
        QString finalUrl; ///< after redirects: a capture's own address names its timestamp
        QString redirect; ///< where a redirect leads, not followed yet
    };
    /// One paced GET, a 429 or 503 waited out (Retry-After, else 60 s, doubling; never more
    /// than 10 minutes) up to three times; its redirects followed, each in its own turn.
    /// Whether the address names a file of this machine, which is never sent to the archive;
    /// the reason in `error` when it does.
    static bool isLocal(const QString& address, QString* error);
    Answer get(const QString& url, qint64 maxBytes);
    /// The same without following a redirect.
    Answer getOnce(const QString& url, qint64 maxBytes);
    bool sleepFor(qint64 ms, const QString& why);
    std::optional<QList<ArchiveCapture>> index(const QString& query, QString* resumeKey,
                                               QString* error);

    QString m_address;
    ArchivePace& m_pace;
    const std::atomic<bool>& m_cancelled;
    Waiting m_waiting;
    int m_requests = 0;
    /// One site, asked again and again: its connection is kept for the next request.
    transfer::Connections m_connections;
};
