#include "cacheentry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto entry = ParseChromiumEntry(MemoryEntryBytes(bytes))) {
        if (entry->bodyOffset < 0 || entry->bodySize < 0 ||
            entry->bodyOffset + entry->bodySize > bytes.size())
            std::abort();
    }
    return 0;
}
