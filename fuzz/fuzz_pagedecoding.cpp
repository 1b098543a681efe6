#include "htmlscan.h"
#include "pagecharset.h"

#include <cstddef>
#include <cstdint>

// A page of any bytes and any Content-Type (its first line): its encoding is found, its
// references decoded and their queries encoded in it, without reading outside the page.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype lineEnd = input.indexOf('\n');
    const QByteArrayView contentType = lineEnd < 0 ? QByteArrayView() : input.first(lineEnd);
    const QByteArrayView page = lineEnd < 0 ? input : input.sliced(lineEnd + 1);
    PageDecoder decoder(PageCharset(page, contentType));
    QByteArray body = page.toByteArray();
    if (decoder.isUtf16()) {
        body = decoder.toUtf8(body);
        decoder = PageDecoder("utf-8");
    }
    ScanResultList movies(1000, 1 << 20);
    ExtractFlashLinks(body, QStringLiteral("http://example.com/dir/page.html"), movies, decoder);
    ScanResultList frames(200, 1 << 20);
    ExtractFrameLinks(body, QStringLiteral("http://example.com/dir/page.html"), frames, decoder);
    for (const QString& movie : movies.toList()) {
        if (decoder.encodeQuery(movie).indexOf(u'?') != movie.indexOf(u'?'))
            __builtin_trap(); // the path before the query is never changed
    }
    return 0;
}
