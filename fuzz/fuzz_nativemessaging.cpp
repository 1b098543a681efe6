#include "nativemessaging.h"

#include <cstddef>
#include <cstdint>

using namespace nativemessaging;

// A browser companion's stream of any content, arriving in two pieces: no message longer than the
// limit comes out, and a message accepted from either side is accepted again when it is framed
// and read back, as the host relays it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    FrameReader reader;
    const qsizetype half = bytes.size() / 2;
    reader.feed(bytes.first(half));
    reader.feed(bytes.sliced(half));
    reader.end();
    while (const std::optional<QByteArray> json = reader.next()) {
        if (json->size() > kMaxMessageBytes)
            __builtin_trap();
        for (const Sender sender : {Sender::Extension, Sender::Program}) {
            Fault fault = Fault::None;
            QString why;
            const std::optional<Message> message = ReadMessage(*json, sender, &fault, &why);
            if (message.has_value() != (fault == Fault::None))
                __builtin_trap();
            if (!message)
                continue;
            FrameReader again;
            again.feed(Frame(message->fields));
            const std::optional<QByteArray> relayed = again.next();
            if (!relayed || !ReadMessage(*relayed, sender, &fault, &why))
                __builtin_trap(); // what was accepted must pass the relay unchanged in meaning
        }
    }
    return 0;
}
