#pragma once

#include "browsersession.h"
#include "browserurls.h"

#include <QJsonObject>
#include <QPointF>
#include <QString>

#include <optional>

/// The scripts the program runs in the browser's pages, and the reading of their answers. The
/// screen maths lives in ViewportGeometry; these only carry its inputs and outputs.
namespace PageScripts {

/// Tells the window's metrics, whether the page is the visible one of its window, and its
/// address; it also starts noting the viewport's exact screen origin from pointer moves.
QString metrics();
/// Finds the Flash movie at a point in CSS pixels (and pauses it through Ruffle's API when
/// asked); answers null, {address, left, top, width, height, frame} in CSS pixels, or, over a
/// frame of another site, {crossFrame: {src, left, top}}: that frame's page is to be asked.
QString findMovie(QPointF css, bool pause);
/// Lists the Flash movies of one document: {frame, movies: [{url, seenAs}]}, addresses absolute.
QString tabMovies();

/// The viewport's place on the screen from the metrics script's answer; none when empty.
std::optional<ViewportGeometry> geometryOf(const QJsonObject& metrics);
/// Whether the metrics script's answer holds the viewport's exact origin, which the page
/// learns from a pointer move over it.
bool knowsOrigin(const QJsonObject& metrics);
/// The viewport's rectangle on the screen, from the same answer.
QRect viewportOnScreen(const QJsonObject& metrics, const ViewportGeometry& geometry);
/// The movie the find script answered, placed on the screen; none for an empty answer.
std::optional<MovieAtPoint> movieOf(const QJsonObject& hit, const ViewportGeometry& geometry);

} // namespace PageScripts
