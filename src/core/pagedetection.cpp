#include "pagedetection.h"

#include "htmlscan.h"
#include "pagecharset.h"
#include "texthelpers.h"

#include <QElapsedTimer>
#include <QSet>

#include <cstring>
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

void PageDetection::scanPage(const PageReply& reply, ScanResultList& movies,
                             ScanResultList& frames) const
{
    PageDecoder decoder(PageCharset(reply.body, reply.contentType));
    QByteArray body = reply.body;
    if (decoder.isUtf16()) {
        // The scanners look for ASCII markers: the page is read as UTF-8 instead.
        body = decoder.toUtf8(body);
        decoder = PageDecoder("utf-8");
    }
    const QByteArray text = MemoText(body);
    ExtractFlashLinks(text, reply.finalUrl, movies, decoder);
    ExtractFrameLinks(text, reply.finalUrl, frames, decoder);
    if (m_limits.followFramesets)
        ExtractFramesetLinks(text, reply.finalUrl, frames, decoder);
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
        for (const QString& page : std::as_const(level)) {
            if (page.isEmpty())
                continue;
            if (m_cancelled)
                return QStringLiteral("the detection was cancelled");
            if (m_fetched == kMaxPages || movies.full())
                break;
            const qint64 left = m_limits.totalDeadlineMs - clock.elapsed();
            if (left <= 0) {
                error = QStringLiteral("the detection did not end within %1 minutes")
                            .arg(m_limits.totalDeadlineMs / 60000.0);
                break;
            }
            ++m_fetched;
            const PageReply reply =
                m_fetch(page, static_cast<int>(std::min<qint64>(m_limits.pageDeadlineMs, left)));
            if (!reply.ok) {
                m_firstPageGone = m_fetched == 1 && reply.gone;
                error = reply.error;
                break;
            }
            seen.insert(reply.finalUrl);
            scanPage(reply, movies, frames);
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

bool IsMovieAddress(const QString& text)
{
    const qsizetype at = LastCharPos(u"s", text);
    return at > 0 && QStringView(text).mid(at - 1, 3) == u"swf";
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
