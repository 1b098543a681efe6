#include "requesthead.h"

#include <cstddef>
#include <cstdint>

// Whatever a local client sends the movie server first, at a small limit and at the real one.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const qsizetype limit : {qsizetype(64), qsizetype(16 * 1024)}) {
        const RequestHead head = ParseRequestHead(bytes, limit);
        if (head.status == RequestHead::Complete && (head.size > limit || head.size > bytes.size()))
            __builtin_trap(); // a head longer than its limit or its bytes
    }
    return 0;
}
