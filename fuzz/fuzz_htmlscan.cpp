#include "htmlscan.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView page(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // The first line is the page address, the rest the page.
    const qsizetype newline = page.indexOf('\n');
    const QString address = newline < 0 ? QStringLiteral("http://host/dir/page.html")
                                        : QString::fromUtf8(page.first(newline));
    ScanResultList movies;
    ExtractFlashLinks(page, address, movies);
    (void)movies.toList();
    (void)ExtractFrameLinks(page, address).toList();
    return 0;
}
