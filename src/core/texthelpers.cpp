#include "texthelpers.h"

#include <cstring>

qsizetype LastCharPos(QStringView character, QStringView text)
{
    if (character.size() != 1 || text.size() < 2)
        return 0;
    return text.lastIndexOf(character.front()) + 1;
}

qsizetype CountOccurrences(QStringView part, QStringView text)
{
    if (part.isEmpty())
        return 0;
    qsizetype count = 0;
    for (qsizetype at = text.indexOf(part); at >= 0; at = text.indexOf(part, at + part.size()))
        ++count;
    return count;
}

QStringList SplitMemoLines(QByteArrayView bytes)
{
    QStringList lines;
    const char* const data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    auto addLine = [&](qsizetype end) {
        qsizetype length = end - start;
        if (const void* nul = std::memchr(data + start, 0, static_cast<std::size_t>(length)))
            length = static_cast<const char*>(nul) - (data + start);
        lines << QString::fromUtf8(data + start, length);
    };
    qsizetype i = 0;
    while (i < size) {
        const char c = data[i];
        if (c == '\r' || c == '\n') {
            addLine(i);
            i += (c == '\r' && i + 1 < size && data[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < size)
        addLine(size);
    return lines;
}
