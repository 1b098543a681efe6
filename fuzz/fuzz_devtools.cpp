#include "pagescripts.h"

#include <QJsonDocument>

#include <cmath>
#include <cstddef>
#include <cstdint>

// A DevTools message of any content, read the way the session reads a page's answers: the
// metrics and the movie found are numbers a hostile page or browser chooses.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QJsonObject message = QJsonDocument::fromJson(text).object();
    const QJsonObject value = message.value(QStringLiteral("result"))
                                  .toObject()
                                  .value(QStringLiteral("result"))
                                  .toObject()
                                  .value(QStringLiteral("value"))
                                  .toObject();
    const std::optional<ViewportGeometry> geometry = PageScripts::geometryOf(value);
    if (!geometry)
        return 0;
    (void)PageScripts::viewportOnScreen(value, *geometry);
    const QJsonObject hit = message.value(QStringLiteral("hit")).toObject();
    if (const std::optional<MovieAtPoint> movie = PageScripts::movieOf(hit, *geometry)) {
        if (movie->screenRect.width() < 0 || movie->screenRect.height() < 0)
            __builtin_trap(); // a movie is never placed with a negative size
    }
    (void)PageScripts::findMovie(geometry->screenToCss(QPointF(10, 10)), false);
    return 0;
}
