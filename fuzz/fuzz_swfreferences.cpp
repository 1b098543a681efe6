#include "keptfiles.h"
#include "swfcontents.h"
#include "swfreferences.h"

#include <cstddef>
#include <cstdint>

// A movie from the web, read for the files its code names; each name then becomes a place in
// the kept-files folder, which must never leave it. The facts read from it stay within their
// bound.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<QByteArray> movie = UncompressedMovie(
        QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
        qint64(16) << 20);
    if (!movie)
        return 0;
    for (const QString& reference : NamedFileReferences(*movie)) {
        const std::optional<QString> place = KeptPathFor(
            QUrl(QStringLiteral("http://example.com/games/")).resolved(QUrl(reference)));
        if (place && (place->contains(QStringLiteral("/../")) || place->startsWith(u'/')))
            __builtin_trap();
    }
    const SwfContents inside = ReadSwfContents(*movie);
    qsizetype total = inside.title.size() + inside.description.size();
    for (const QStringList* list :
         {&inside.frameLabels, &inside.symbols, &inside.texts, &inside.addresses}) {
        for (const QString& entry : *list)
            total += entry.size();
    }
    if (total > kMaxContentsText)
        __builtin_trap();
    return 0;
}
