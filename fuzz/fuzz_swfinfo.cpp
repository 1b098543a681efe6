#include "swfcheck.h"
#include "swfinfo.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    (void)ReadSwfInfo(
        QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    // The whole-movie check, as an import copies a movie in pieces.
    MovieCheck check;
    for (std::size_t at = 0; at < size; at += 7) {
        const std::size_t piece = size - at < 7 ? size - at : 7;
        if (!check.add(std::string_view(reinterpret_cast<const char*>(data) + at, piece)))
            break;
    }
    (void)check.finish();
    return 0;
}
