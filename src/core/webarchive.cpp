#include "webarchive.h"

#include "urlresolve.h"

#include "datafolder.h"
#include "filetransfer.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr qint64 kMaxIndexAnswer = qint64(64) << 20;
constexpr qint64 kMaxMovie = qint64(256) << 20;
constexpr int kRetriesAfterBusy = 3;
constexpr qint64 kDefaultBusyWaitMs = 60 * 1000;
constexpr int kMoviesPerPage = 5000;
constexpr int kNewestTried = 3;
/// The longest wait a busy archive is granted, whatever it asks: an hour's Retry-After would hold
/// every process of the user off for that long.
constexpr qint64 kLongestBusyWaitMs = 10 * 60 * 1000;
/// A listing ends after so many index pages or so long, with a notice: an index whose resume key
/// changes on every page would never end.
constexpr int kMostIndexPages = 100;
constexpr qint64 kLongestListingMs = 10 * 60 * 1000;
/// The longest one answer may take to arrive.
constexpr qint64 kLongestAnswerMs = 300 * 1000;
/// Redirects followed for one archive request, each paced as a request.
constexpr int kMostArchiveRedirects = 10;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

/// How long a busy archive asked to be left alone: Retry-After in seconds or as a date.
qint64 retryAfterMs(const QByteArray& value, qint64 fallbackMs)
{
    bool number = false;
    const qint64 seconds = value.toLongLong(&number);
    if (number && seconds >= 0)
        return std::min<qint64>(seconds, kLongestBusyWaitMs / 1000) * 1000;
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
    if (when.isValid())
        return std::clamp<qint64>(when.toMSecsSinceEpoch() - nowMs(), 0, kLongestBusyWaitMs);
    return std::min(fallbackMs, kLongestBusyWaitMs);
}

/// An index query for the captures of an address that were answered with status 200, in JSON.
QUrlQuery goodCapturesQuery(const QString& address)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("url"),
                       QString::fromLatin1(QUrl::toPercentEncoding(address)));
    query.addQueryItem(QStringLiteral("output"), QStringLiteral("json"));
    query.addQueryItem(QStringLiteral("filter"), QStringLiteral("statuscode:200"));
    query.addQueryItem(QStringLiteral("fl"),
                       QStringLiteral("timestamp,original,mimetype,statuscode,length"));
    return query;
}

QString withoutQuery(const QString& address)
{
    return address.section(u'?', 0, 0).section(u'#', 0, 0);
}

} // namespace

QString WebArchiveAddress(const VaultSettings& settings)
{
    QString address = qEnvironmentVariable("CLIPVAULT_ARCHIVE_URL");
    if (address.isEmpty())
        address = settings.archiveUrl;
    if (address.isEmpty())
        address = QStringLiteral("https://web.archive.org");
    while (address.endsWith(u'/'))
        address.chop(1);
    return address;
}

ArchiveAccess WebArchiveOf(const VaultSettings& settings)
{
    return {WebArchiveAddress(settings),
            settings.archivePaceMs >= 0 ? settings.archivePaceMs : kArchivePaceMs};
}

ArchiveAccess ArchiveAccessOf(const VaultSettings& settings)
{
    return settings.lookInArchive ? WebArchiveOf(settings) : ArchiveAccess{};
}

ArchiveAccess ArchiveAccessOf(const QString& dataFolder)
{
    return ArchiveAccessOf(LoadVaultSettings(dataFolder));
}

ArchivePace::ArchivePace(int spacingMs, QString stateFile)
    : m_spacingMs(spacingMs)
    , m_stateFile(std::move(stateFile))
{
}

QString ArchivePace::defaultStateFile()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(cache);
    return QDir(cache).filePath(QStringLiteral("archive-pace"));
}

template <typename Change>
qint64 ArchivePace::update(Change&& change)
{
    // The state is the time before which nobody sends, in milliseconds, as text. A file that
    // cannot be had leaves this process pacing itself alone.
    const int fd = ::open(QFile::encodeName(m_stateFile).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return change(m_reservedUntil < 0 ? 0 : m_reservedUntil);
    ::flock(fd, LOCK_EX);
    char text[32] = {};
    const ssize_t read = ::pread(fd, text, sizeof text - 1, 0);
    const qint64 stored =
        read > 0 ? QByteArray(text, static_cast<qsizetype>(read)).trimmed().toLongLong() : 0;
    const qint64 next = change(stored);
    const QByteArray written = QByteArray::number(next);
    if (::ftruncate(fd, 0) == 0)
        static_cast<void>(
            ::pwrite(fd, written.constData(), static_cast<size_t>(written.size()), 0));
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return next;
}

qint64 ArchivePace::reserveTurn()
{
    qint64 wait = 0;
    update([&](qint64 stored) {
        const qint64 now = nowMs();
        // A time further ahead than any wait is granted is no one's: a clock set back, a damaged
        // file, or a wait asked before the longest was bounded.
        const qint64 from =
            stored > now + kLongestBusyWaitMs + m_spacingMs ? now : std::max(stored, now);
        wait = from - now;
        m_reservedFrom = stored;
        m_reservedUntil = from + m_spacingMs;
        return m_reservedUntil;
    });
    return wait;
}

void ArchivePace::holdOff(qint64 ms)
{
    ms = std::min(ms, kLongestBusyWaitMs);
    update([&](qint64 stored) { return std::max(stored, nowMs() + ms); });
}

void ArchivePace::giveBack()
{
    update([&](qint64 stored) { return stored == m_reservedUntil ? m_reservedFrom : stored; });
    m_reservedUntil = -1;
}

bool ArchiveCapture::looksLikeMovie() const
{
    if (mimetype.contains(QStringLiteral("shockwave-flash"), Qt::CaseInsensitive) ||
        mimetype.contains(QStringLiteral("adobe.flash"), Qt::CaseInsensitive))
        return true;
    return withoutQuery(original).endsWith(QStringLiteral(".swf"), Qt::CaseInsensitive);
}

std::optional<QList<ArchiveCapture>> ParseCdxJson(const QByteArray& json, QString* resumeKey)
{
    QJsonParseError parsed{};
    const QJsonDocument document =
        QJsonDocument::fromJson(json.trimmed().isEmpty() ? "[]" : json, &parsed);
    if (parsed.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray rows = document.array();
    QList<ArchiveCapture> captures;
    if (rows.isEmpty())
        return captures;
    QHash<QString, int> column;
    const QJsonArray header = rows.first().toArray();
    for (int i = 0; i < header.size(); ++i)
        column.insert(header[i].toString(), i);
    if (!column.contains(QStringLiteral("original")) ||
        !column.contains(QStringLiteral("timestamp")))
        return std::nullopt;
    const auto field = [&](const QJsonArray& row, const char* name) {
        return row.at(column.value(QLatin1String(name), -1)).toString();
    };
    bool afterBlank = false;
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const QJsonArray row = rows[i].toArray();
        if (row.isEmpty()) {
            afterBlank = true; // a resume key follows an empty row
            continue;
        }
        if (afterBlank) {
            if (resumeKey)
                *resumeKey = row.at(0).toString();
            continue;
        }
        ArchiveCapture capture;
        capture.original = field(row, "original");
        capture.timestamp = field(row, "timestamp");
        capture.mimetype = field(row, "mimetype");
        capture.status = field(row, "statuscode").toInt();
        bool known = false;
        capture.length = field(row, "length").toLongLong(&known);
        if (!known)
            capture.length = -1;
        if (!capture.original.isEmpty() && capture.timestamp.size() >= 4)
            captures.append(capture);
    }
    return captures;
}

QDateTime CaptureTime(const QString& timestamp)
{
    QDateTime time = QDateTime::fromString(timestamp.left(14).leftJustified(14, u'0'),
                                           QStringLiteral("yyyyMMddHHmmss"));
    time.setTimeSpec(Qt::UTC);
    return time;
}

QString CaptureDateText(const QString& timestamp)
{
    const QDate date = CaptureTime(timestamp).date();
    return date.isValid() ? QLocale(QLocale::English).toString(date, QStringLiteral("d MMMM yyyy"))
                          : timestamp;
}

WebArchive::WebArchive(QString address, ArchivePace& pace, const std::atomic<bool>& cancelled,
                       Waiting waiting)
    : m_address(std::move(address))
    , m_pace(pace)
    , m_cancelled(cancelled)
    , m_waiting(std::move(waiting))
{
}

QString WebArchive::captureUrl(const QString& timestamp, const QString& original) const
{
    return m_address + QStringLiteral("/web/") + timestamp + QStringLiteral("id_/") + original;
}

bool WebArchive::sleepFor(qint64 ms, const QString& why)
{
    if (ms >= 1000 && m_waiting)
        m_waiting(why.arg((ms + 999) / 1000));
    const qint64 until = nowMs() + ms;
    while (!m_cancelled && nowMs() < until)
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(100, until - nowMs())));
    return !m_cancelled;
}

WebArchive::Answer WebArchive::get(const QString& url, qint64 maxBytes)
{
    // Each redirect is followed as a request of its own, in its turn: the archive sees no more
    // than one request a turn however its captures lead from one to another.
    Answer answer = getOnce(url, maxBytes);
    for (int hop = 0; hop < kMostArchiveRedirects && !answer.redirect.isEmpty(); ++hop)
        answer = getOnce(answer.redirect, maxBytes);
    return answer;
}

WebArchive::Answer WebArchive::getOnce(const QString& url, qint64 maxBytes)
{
    Answer answer;
    qint64 busyWait = kDefaultBusyWaitMs;
    for (int attempt = 0; attempt <= kRetriesAfterBusy; ++attempt) {
        if (!sleepFor(m_pace.reserveTurn(),
                      QStringLiteral("waiting %1 s for its turn at the web archive")))
            break;
        transfer::Request request = WebRequest(url);
        request.followRedirects = false; // followed in turn by get()
        request.agent = "ClipVault (web archive lookups)";
        request.compressed = true; // the index may come gzipped
        request.useCache = true;
        request.anyStatus = true;
        request.maxSize = maxBytes; // larger than anything asked for may be: ended there
        request.timeLimitMs = kLongestAnswerMs;
        transfer::FlagWatcher watcher(m_cancelled);
        transfer::Outcome outcome = transfer::Fetch(request, watcher, &m_connections);
        const long status = outcome.status;
        answer.finalUrl = QString::fromStdString(outcome.finalUrl);
        answer.redirect = QString::fromStdString(outcome.redirect);
        answer.reached = status != 0;
        answer.status = static_cast<int>(status);
        if (!answer.reached) {
            m_pace.giveBack(); // nothing reached the archive
            answer.error = QStringLiteral("the web archive could not be reached: ") +
                           QString::fromStdString(outcome.error);
            return answer;
        }
        ++m_requests;
        if (status == 429 || status == 503) {
            // A busy archive is left alone as long as it asks, and longer each time.
            const qint64 wait =
                retryAfterMs(QByteArray::fromStdString(outcome.retryAfter), busyWait);
            busyWait *= 2;
            m_pace.holdOff(wait);
            answer.error = QStringLiteral("the web archive is busy (status %1)").arg(status);
            const QString until =
                QDateTime::fromMSecsSinceEpoch(nowMs() + wait).toString(QStringLiteral("HH:mm:ss"));
            if (attempt == kRetriesAfterBusy ||
                !sleepFor(wait, QStringLiteral("the web archive is busy: waiting %1 s as it asks, "
                                               "until ") +
                                    until))
                return answer;
            continue;
        }
        if (!outcome.succeeded) {
            answer.error = QStringLiteral("the web archive's answer did not arrive whole: ") +
                           QString::fromStdString(outcome.error);
            return answer;
        }
        answer.body = QByteArray::fromStdString(outcome.body);
        answer.error.clear();
        return answer;
    }
    if (m_cancelled)
        answer.error = QStringLiteral("cancelled");
    return answer;
}

std::optional<QList<ArchiveCapture>> WebArchive::index(const QString& query, QString* resumeKey,
                                                       QString* error)
{
    const Answer answer =
        get(m_address + QStringLiteral("/cdx/search/cdx?") + query, kMaxIndexAnswer);
    if (!answer.error.isEmpty() || answer.status != 200) {
        *error = !answer.error.isEmpty()
                     ? answer.error
                     : QStringLiteral("the web archive's index answered with status %1")
                           .arg(answer.status);
        return std::nullopt;
    }
    std::optional<QList<ArchiveCapture>> rows = ParseCdxJson(answer.body, resumeKey);
    if (!rows)
        *error = QStringLiteral("the web archive's index gave an answer that cannot be read");
    return rows;
}

bool WebArchive::isLocal(const QString& address, QString* error)
{
    if (!IsLocalAddress(address))
        return false;
    *error =
        QStringLiteral("%1 is a file of this machine; it is never looked up in the web archive")
            .arg(address);
    return true;
}

std::optional<ArchivedCopy> WebArchive::newestMovie(const QString& address, QString* error)
{
    if (isLocal(address, error))
        return std::nullopt;
    QUrlQuery query = goodCapturesQuery(address);
    query.addQueryItem(QStringLiteral("collapse"), QStringLiteral("digest"));
    const std::optional<QList<ArchiveCapture>> captures =
        index(query.toString(QUrl::FullyEncoded), nullptr, error);
    if (!captures)
        return std::nullopt;
    error->clear();
    QList<ArchiveCapture> newest = *captures;
    std::sort(newest.begin(), newest.end(), [](const ArchiveCapture& a, const ArchiveCapture& b) {
        return a.timestamp > b.timestamp;
    });
    int tried = 0;
    for (const ArchiveCapture& capture : newest) {
        if (capture.status != 0 && capture.status != 200)
            continue;
        if (tried++ == kNewestTried || m_cancelled)
            break;
        const QString url = captureUrl(capture.timestamp, capture.original);
        const Answer answer = get(url, kMaxMovie);
        // An answer cut short or reset is no copy, however it begins.
        if (answer.status == 200 && answer.error.isEmpty() && BeginsAsFlashMovie(answer.body))
            return ArchivedCopy{answer.body, url, capture.timestamp};
        if (!answer.reached) {
            *error = answer.error;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<ArchivedCopy> WebArchive::newestCapture(const QString& address, qint64 maxBytes,
                                                      QString* error, const QString& near)
{
    if (isLocal(address, error))
        return std::nullopt;
    // A timestamp the archive lacks redirects to the capture nearest it; with none, the newest.
    const QString asked = near.isEmpty() ? QStringLiteral("2") : near;
    const Answer answer = get(captureUrl(asked, address), maxBytes);
    if (answer.status == 200 && answer.error.isEmpty()) {
        // The capture it came to names its own time.
        const qsizetype web = answer.finalUrl.indexOf(QStringLiteral("/web/"));
        const qsizetype id = answer.finalUrl.indexOf(QStringLiteral("id_/"), web);
        const QString timestamp =
            web >= 0 && id > web ? answer.finalUrl.mid(web + 5, id - web - 5) : asked;
        return ArchivedCopy{answer.body, answer.finalUrl, timestamp};
    }
    *error = !answer.error.isEmpty() ? answer.error
             : answer.status == 404
                 ? QString()
                 : QStringLiteral("the web archive answered with status %1").arg(answer.status);
    return std::nullopt;
}

std::optional<QList<ArchiveCapture>> WebArchive::moviesUnder(const QString& prefix,
                                                             const std::function<void(int)>& found,
                                                             QString* error, QString* cutShort)
{
    if (isLocal(prefix, error))
        return std::nullopt;
    // Rows come oldest first: the last row of an address is its newest capture.
    QList<ArchiveCapture> movies;
    QHash<QString, qsizetype> byAddress;
    QString resumeKey;
    const qint64 started = nowMs();
    int pages = 0;
    do {
        if (pages == kMostIndexPages || nowMs() - started >= kLongestListingMs) {
            if (cutShort)
                *cutShort = QStringLiteral("the web archive's index was still giving pages after "
                                           "%1 pages and %2 s: the listing stopped there, with "
                                           "the movies found so far")
                                .arg(pages)
                                .arg((nowMs() - started) / 1000);
            break;
        }
        ++pages;
        QUrlQuery query = goodCapturesQuery(prefix);
        query.addQueryItem(QStringLiteral("matchType"), QStringLiteral("prefix"));
        query.addQueryItem(QStringLiteral("limit"), QString::number(kMoviesPerPage));
        query.addQueryItem(QStringLiteral("showResumeKey"), QStringLiteral("true"));
        if (!resumeKey.isEmpty())
            query.addQueryItem(QStringLiteral("resumeKey"),
                               QString::fromLatin1(QUrl::toPercentEncoding(resumeKey)));
        const QString asked = resumeKey;
        resumeKey.clear();
        const std::optional<QList<ArchiveCapture>> rows =
            index(query.toString(QUrl::FullyEncoded), &resumeKey, error);
        if (!rows)
            return std::nullopt;
        for (const ArchiveCapture& row : *rows) {
            if (!row.looksLikeMovie())
                continue;
            if (const auto it = byAddress.constFind(row.original); it != byAddress.cend()) {
                if (row.timestamp >= movies[*it].timestamp)
                    movies[*it] = row;
            } else {
                byAddress.insert(row.original, movies.size());
                movies.append(row);
            }
        }
        if (found)
            found(static_cast<int>(movies.size()));
        if (resumeKey == asked)
            break; // an index that gives the same key again would never end
    } while (!resumeKey.isEmpty() && !m_cancelled);
    if (m_cancelled) {
        *error = QStringLiteral("cancelled");
        return std::nullopt;
    }
    return movies;
}
