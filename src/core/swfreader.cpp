#include "swfreader.h"

namespace swf {

void ForEachTag(QByteArrayView tags, const TagVisit& visit, int depth)
{
    Reader reader(tags);
    while (!reader.atEnd()) {
        const quint32 head = reader.u16();
        const quint32 code = head >> 6;
        qsizetype length = head & 0x3F;
        if (length == 0x3F)
            length = reader.u32();
        const QByteArrayView body = reader.bytes(length);
        if (!reader.ok() || code == End)
            return;
        visit(code, body);
        if (code == DefineSprite && depth < 8) {
            Reader sprite(body);
            sprite.u16(); // id
            sprite.u16(); // frame count
            ForEachTag(sprite.bytes(sprite.left()), visit, depth + 1);
        }
    }
}

QByteArrayView TagsOf(QByteArrayView movie)
{
    if (movie.size() < kHeader + 1)
        return {};
    Reader reader(movie.sliced(kHeader));
    skipRect(reader);
    reader.u16(); // frame rate
    reader.u16(); // frame count
    if (!reader.ok())
        return {};
    return movie.sliced(kHeader + reader.position());
}

} // namespace swf
