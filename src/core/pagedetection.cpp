#include "pagedetection.h"

#include "htmlscan.h"
#include "texthelpers.h"

#include <QSet>

#include <cstring>
#include <utility>

PageDetection::PageDetection(Fetch fetch, const std::atomic<bool>& cancelled)
    : m_fetch(std::move(fetch))
    , m_cancelled(cancelled)
{
}

QString PageDetection::run(const QString& address, const Movies& onMovies)
{
    QStringList level{address};
    QSet<QString> seen{address};
    for (int depth = 0; depth < kMaxLevels && !level.isEmpty(); ++depth) {
        ScanResultList movies;
        ScanResultList frames;
        for (const QString& page : std::as_const(level)) {
            if (page.isEmpty())
                continue;
            if (m_cancelled)
                return QStringLiteral("the detection was cancelled");
            if (m_fetched == kMaxPages)
                break;
            ++m_fetched;
            const PageReply reply = m_fetch(page);
            if (!reply.ok)
                return reply.error;
            const QByteArray text = MemoText(reply.body);
            ExtractFlashLinks(text, reply.finalUrl, movies);
            for (const QString& frame : ExtractFrameLinks(text, reply.finalUrl).toList())
                frames.offer(frame);
        }
        onMovies(movies.toList());
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
