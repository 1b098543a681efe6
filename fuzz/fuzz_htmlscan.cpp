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
    // A movie is a quoted value of the page: none holds markup or a quote the address lacks.
    const auto markup = [](const QString& text) {
        return text.contains(u'<') || text.contains(u'>') || text.contains(u'"') ||
               text.contains(u'\'');
    };
    for (const QString& movie : movies.toList()) {
        if (markup(movie) && !markup(address))
            __builtin_trap();
    }
    (void)ExtractFrameLinks(page, address).toList();
    return 0;
}
