#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

/// Whether the companion's bar shows in `shot` with its top-left corner at `barCorner`, give or
/// take a few pixels: a page's place on the screen is known to a pixel or two, and the yellow
/// bolt lies only a few pixels into the face. Counts the face's red over its first 24 by 24
/// pixels; a placed bar has more than 400 there, a bar 4 pixels off still some 300.
inline bool BarFaceAt(const QImage& shot, QPoint barCorner)
{
    const QRect area = QRect(barCorner, QSize(24, 24)).intersected(shot.rect());
    int red = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = shot.pixelColor(x, y);
            red += pixel.red() > 140 && pixel.green() < 90 && pixel.blue() < 90 ? 1 : 0;
        }
    }
    return red >= 150;
}
