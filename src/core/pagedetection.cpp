#include "pagedetection.h"

#include "background.h"
#include "htmlscan.h"
#include "pagecharset.h"
#include "texthelpers.h"

#include <QElapsedTimer>
#include <QSet>

#include <condition_variable>
#include <deque>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

PageDetection::PageDetection(Fetch fetch, const std::atomic<bool>& cancelled,
                             DetectionLimits limits)
    : m_fetch(std::move(fetch))
    , m_cancelled(cancelled)
    , m_limits(limits)
{
}

QString WithDefaultScheme(const QString& address)
{
    return address.contains(QStringLiteral("://")) ? address : QStringLiteral("http://") + address;
}

namespace {

/// A fetched page as the scanners read it.
struct PageText
{
    QByteArray text;
    PageDecoder decoder;
};

PageText readPage(const PageReply& reply)
{
    PageDecoder decoder(PageCharset(reply.body, reply.contentType));
    QByteArray body = reply.body;
    if (decoder.isUtf16()) {
        // The scanners look for ASCII markers: the page is read as UTF-8 instead.
        body = decoder.toUtf8(body);
        decoder = PageDecoder("utf-8");
    }
    return {MemoText(body), decoder};
}

/// The most a page's text can add to the list: every reference holds ".swf", and resolves to
/// at most the page's address, the scheme and, for each of its bytes, an escaped character in
/// UTF-8 (nine characters).
std::pair<qsizetype, qsizetype> mostAdded(const PageText& page, const QString& address)
{
    const qsizetype references = page.text.size() / 4 + 1;
    return {references, references * (address.size() + 8) + 9 * page.text.size()};
}

/// The pages of one level, fetched in order on a thread of their own and read into text there,
/// each as soon as the pages before it cannot fill the list: the scan of one page overlaps the
/// fetch of the next, and no page is asked for that the list may have no room for.
class LevelFetch final
{
public:
    struct Page
    {
        PageReply reply;
        PageText text;
    };
    /// What a fetch may take (see PageDetection::pageDeadlineMs).
    using Deadline = std::function<std::optional<int>()>;

    LevelFetch(const PageDetection::Fetch& fetch, QStringList pages, int pagesLeft,
               const ScanResultList& movies, const std::atomic<bool>& cancelled, Deadline deadline)
        : m_fetch(fetch)
        , m_pages(std::move(pages))
        , m_pagesLeft(pagesLeft)
        , m_room(movies.room())
        , m_cancelled(cancelled)
        , m_deadline(std::move(deadline))
        , m_fetching(Background::run(nullptr, [this](const BackgroundTask&) { work(); }))
    {
    }

    ~LevelFetch()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_ending = true;
        }
        m_changed.notify_all();
        m_fetching.wait(); // a fetch under way ends first (each has its deadline)
    }

    LevelFetch(const LevelFetch&) = delete;
    LevelFetch& operator=(const LevelFetch&) = delete;

    /// The next page in order, once it is there; nothing once the fetching ended.
    std::optional<Page> next()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty() || m_stopped; });
        if (m_ready.empty())
            return std::nullopt;
        Page page = std::move(m_ready.front());
        m_ready.pop_front();
        return page;
    }

    /// The list after the page next() gave last was scanned.
    void scanned(const ScanResultList& movies)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_room = movies.room();
            m_unscanned.pop_front();
        }
        m_changed.notify_all();
    }

    int fetched() const
    {
        const std::lock_guard lock(m_mutex);
        return m_fetched;
    }
    /// Whether the fetching stopped at the detection's deadline.
    bool timedOut() const
    {
        const std::lock_guard lock(m_mutex);
        return m_timedOut;
    }

private:
    /// Whether the pages fetched and not yet scanned leave room for all they may add.
    bool roomForUnscanned() const
    {
        qsizetype entries = 0;
        qsizetype chars = 0;
        for (const auto& [moreEntries, moreChars] : m_unscanned) {
            entries += moreEntries;
            chars += moreChars;
        }
        return m_room.takes(entries, chars);
    }

    void work()
    {
        std::unique_lock lock(m_mutex);
        for (const QString& page : std::as_const(m_pages)) {
            // Once the list is full nothing more is fetched; until the pages before this one are
            // known not to fill it, the fetch waits for their scan.
            m_changed.wait(lock, [this] {
                return m_ending || m_room.full || m_unscanned.empty() || roomForUnscanned();
            });
            if (m_ending || m_room.full || m_cancelled || m_fetched == m_pagesLeft)
                break;
            const std::optional<int> deadline = m_deadline();
            if (!deadline) {
                m_timedOut = true;
                break;
            }
            ++m_fetched;
            lock.unlock();
            Page fetched{m_fetch(page, *deadline), PageText{QByteArray(), PageDecoder()}};
            if (fetched.reply.ok)
                fetched.text = readPage(fetched.reply);
            const auto most = mostAdded(fetched.text, fetched.reply.finalUrl);
            lock.lock();
            const bool failed = !fetched.reply.ok;
            m_unscanned.push_back(most);
            m_ready.push_back(std::move(fetched));
            m_changed.notify_all();
            if (failed)
                break; // a failure ends the level
        }
        m_stopped = true;
        m_changed.notify_all();
    }

    const PageDetection::Fetch& m_fetch;
    const QStringList m_pages;
    const int m_pagesLeft;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    ScanResultList::Room m_room;
    std::deque<std::pair<qsizetype, qsizetype>> m_unscanned; ///< what each may add, in order
    std::deque<Page> m_ready;
    int m_fetched = 0;
    bool m_timedOut = false;
    bool m_stopped = false;
    bool m_ending = false;
    const std::atomic<bool>& m_cancelled;
    const Deadline m_deadline;
    Background::Handle m_fetching; // last: it starts once the rest is set
};

} // namespace

void PageDetection::scanPage(const PageDecoder& decoder, const QByteArray& text,
                             const QString& address, ScanResultList& movies,
                             ScanResultList& frames) const
{
    ExtractFlashLinks(text, address, movies, decoder);
    ExtractFrameLinks(text, address, frames, decoder);
    if (m_limits.followFramesets)
        ExtractFramesetLinks(text, address, frames, decoder);
}

std::optional<int> PageDetection::pageDeadlineMs(const QElapsedTimer& clock) const
{
    const qint64 left = m_limits.totalDeadlineMs - clock.elapsed();
    if (left <= 0)
        return std::nullopt;
    return static_cast<int>(std::min<qint64>(m_limits.pageDeadlineMs, left));
}

QString PageDetection::run(const QString& address, const Movies& onMovies)
{
    QElapsedTimer clock;
    clock.start();
    QStringList level{address};
    // A page is known by the address it is fetched at, and by the one it ended at.
    QSet<QString> seen{address, WithDefaultScheme(address)};
    int rows = 0;
    qsizetype textBytes = 0;
    for (int depth = 0; depth < kMaxLevels && !level.isEmpty(); ++depth) {
        const qsizetype charsLeft = (m_limits.maxTextBytes - textBytes) / qsizetype(sizeof(QChar));
        ScanResultList movies(m_limits.maxRows - rows, charsLeft);
        // No more frame pages are kept than a detection can fetch.
        ScanResultList frames(kMaxPages, charsLeft);
        QString error;
        level.removeAll(QString());
        if (m_cancelled)
            return QStringLiteral("the detection was cancelled");
        {
            LevelFetch fetch(m_fetch, level, kMaxPages - m_fetched, movies, m_cancelled,
                             [&] { return pageDeadlineMs(clock); });
            while (const std::optional<LevelFetch::Page> page = fetch.next()) {
                if (m_cancelled)
                    break;
                if (!page->reply.ok) {
                    m_firstPageGone = m_fetched + fetch.fetched() == 1 && page->reply.gone;
                    error = page->reply.error;
                    break;
                }
                seen.insert(page->reply.finalUrl);
                scanPage(page->text.decoder, page->text.text, page->reply.finalUrl, movies, frames);
                movies.sortSoFar(); // while the next page is on its way
                fetch.scanned(movies);
            }
            m_fetched += fetch.fetched();
            if (m_cancelled)
                return QStringLiteral("the detection was cancelled");
            if (error.isEmpty() && fetch.timedOut())
                error = QStringLiteral("the detection did not end within %1 minutes")
                            .arg(m_limits.totalDeadlineMs / 60000.0);
        }
        onMovies(movies.toList());
        rows += movies.size();
        textBytes += movies.chars() * qsizetype(sizeof(QChar));
        if (movies.full()) {
            m_limitNotice = QStringLiteral("the detection stopped at %1 movies (%2 MiB of "
                                           "addresses): the pages hold more than one list can")
                                .arg(rows)
                                .arg(textBytes >> 20);
            return error;
        }
        if (!error.isEmpty())
            return error;
        level.clear();
        for (const QString& frame : frames.toList()) {
            if (!seen.contains(frame)) {
                seen.insert(frame);
                level << frame;
            }
        }
        if (m_fetched == kMaxPages)
            break;
    }
    return {};
}

bool IsDrivePath(const QString& text)
{
    return text.size() >= 2 && text[1] == u':';
}

QByteArray MemoText(QByteArrayView bytes)
{
    QByteArray text;
    text.reserve(bytes.size());
    const char* const data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    bool first = true;
    auto addLine = [&](qsizetype end) {
        qsizetype length = end - start;
        if (const void* nul = std::memchr(data + start, 0, static_cast<std::size_t>(length)))
            length = static_cast<const char*>(nul) - (data + start);
        if (!first)
            text.append("\r\n", 2);
        first = false;
        text.append(data + start, length);
    };
    for (qsizetype i = 0; i < size;) {
        const char c = data[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        addLine(i);
        i += (c == '\r' && i + 1 < size && data[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < size)
        addLine(size);
    return text;
}
