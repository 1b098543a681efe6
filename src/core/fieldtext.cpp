#include "fieldtext.h"

#include <cstring>

namespace fieldtext {

QByteArrayView bytes(const char* field, std::size_t width)
{
    const void* end = std::memchr(field, 0, width);
    const auto length = end ? static_cast<const char*>(end) - field : static_cast<qsizetype>(width);
    return QByteArrayView(field, length);
}

qsizetype utf8PrefixLength(QByteArrayView text, qsizetype capacity)
{
    if (text.size() <= capacity)
        return text.size();
    // Step back over continuation bytes (10xxxxxx) so that the cut falls before the lead byte of
    // the character that does not fit whole.
    qsizetype cut = capacity;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

QByteArrayView beforeZero(QByteArrayView text)
{
    if (text.isEmpty())
        return text;
    if (const void* nul = std::memchr(text.data(), 0, static_cast<std::size_t>(text.size())))
        return text.first(static_cast<const char*>(nul) - text.data());
    return text;
}

void write(char* field, std::size_t width, QByteArrayView text)
{
    if (width == 0)
        return;
    // An empty view may carry no data pointer at all, which memchr and memcpy must not see.
    if (text.isEmpty()) {
        field[0] = '\0';
        return;
    }
    text = beforeZero(text);
    const qsizetype length = utf8PrefixLength(text, static_cast<qsizetype>(width) - 1);
    if (length > 0)
        std::memcpy(field, text.data(), static_cast<std::size_t>(length));
    field[length] = '\0';
}

} // namespace fieldtext
