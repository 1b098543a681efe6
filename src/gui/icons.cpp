#include "icons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QStyle>

namespace Icons {

namespace {

// The program's lightning bolt, on the application icon's 256-unit square.
QPainterPath programBolt()
{
    QPainterPath bolt;
    bolt.moveTo(150, 72);
    bolt.lineTo(92, 136);
    bolt.lineTo(126, 136);
    bolt.lineTo(104, 184);
    bolt.lineTo(168, 116);
    bolt.lineTo(134, 116);
    bolt.lineTo(156, 72);
    bolt.closeSubpath();
    return bolt;
}

const QColor kBoltColour(0xff, 0xd5, 0x4a);

// A film strip with a lightning bolt, drawn on a 256-unit square and scaled to each size.
QPixmap paintApplicationIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 256.0, size / 256.0);

    painter.setPen(QPen(QColor(0x7a, 0x16, 0x10), 8));
    painter.setBrush(QColor(0xb3, 0x26, 0x1e));
    painter.drawRoundedRect(QRectF(16, 16, 224, 224), 40, 40);

    painter.setPen(Qt::NoPen);
    for (int y : {44, 192}) {
        painter.setBrush(QColor(255, 255, 255, 220));
        painter.drawRect(QRectF(36, y, 184, 20));
        painter.setBrush(QColor(0xb3, 0x26, 0x1e));
        for (int x = 48; x <= 208; x += 40)
            painter.drawRect(QRectF(x, y + 4, 16, 12));
    }

    painter.setPen(QPen(QColor(0x5a, 0x3d, 0x00), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(kBoltColour);
    painter.drawPath(programBolt());
    return pixmap;
}

// A cog wheel: settings, as desktops draw them; in the palette's text colour so that it reads on
// light and dark themes alike.
QPixmap paintSettingsIcon(int size, const QColor& colour)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 24.0, size / 24.0);
    painter.translate(12, 12);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    for (int tooth = 0; tooth < 8; ++tooth) {
        painter.drawRoundedRect(QRectF(-1.8, -10.5, 3.6, 5), 0.8, 0.8);
        painter.rotate(45);
    }
    QPainterPath ring;
    ring.addEllipse(QPointF(0, 0), 7.5, 7.5);
    ring.addEllipse(QPointF(0, 0), 3, 3);
    painter.drawPath(ring); // odd-even fill leaves the hole
    return pixmap;
}

// The shortcut bar's face, 74 × 26: a dark red strip with rounded ends, the program's bolt at its
// left and a grip at its right; the two buttons sit between them.
QPixmap paintShortcutBar()
{
    QPixmap pixmap(74, 26);
    pixmap.fill(QColor(0x7a, 0x16, 0x10));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient shade(0, 0, 0, 26);
    shade.setColorAt(0, QColor(0xd0, 0x3a, 0x2e));
    shade.setColorAt(1, QColor(0x8e, 0x1c, 0x15));
    painter.setPen(QPen(QColor(0x5a, 0x10, 0x0b), 1));
    painter.setBrush(shade);
    painter.drawRoundedRect(QRectF(0.5, 0.5, 73, 25), 5, 5);
    // The icon's bolt, 18 pixels tall, at the strip's left end.
    const QTransform boltPlace =
        QTransform::fromTranslate(3, 4).scale(18.0 / 112, 18.0 / 112).translate(-92, -72);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBoltColour);
    painter.drawPath(boltPlace.map(programBolt()));
    painter.setBrush(QColor(255, 255, 255, 150));
    for (int y = 7; y <= 17; y += 5) {
        for (int x = 65; x <= 69; x += 4)
            painter.drawEllipse(QPointF(x, y), 1.1, 1.1);
    }
    return pixmap;
}

// Saving into a category: an arrow down into a tray, 14 × 14, in white on the bar.
QPixmap paintSaveGlyph()
{
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(QPointF(7, 1.5), QPointF(7, 8.5));
    painter.drawPolyline(QPolygonF({QPointF(4, 5.5), QPointF(7, 8.8), QPointF(10, 5.5)}));
    painter.drawPolyline(
        QPolygonF({QPointF(1.5, 8), QPointF(1.5, 12.5), QPointF(12.5, 12.5), QPointF(12.5, 8)}));
    return pixmap;
}

QIcon standard(QStyle::StandardPixmap pixmap)
{
    return QApplication::style()->standardIcon(pixmap);
}

} // namespace

QIcon application()
{
    static const QIcon icon = [] {
        QIcon result;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            result.addPixmap(paintApplicationIcon(size));
        return result;
    }();
    return icon;
}

QIcon settings()
{
    const QColor colour = QApplication::palette().color(QPalette::WindowText);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48})
        icon.addPixmap(paintSettingsIcon(size, colour));
    return icon;
}

QPixmap shortcutBar()
{
    return paintShortcutBar();
}

QIcon saveToCategory()
{
    return QIcon(paintSaveGlyph());
}

QIcon barOptions()
{
    return QIcon(paintSettingsIcon(16, Qt::white));
}

QIcon treeImage(TreeImage image)
{
    switch (image) {
    case TreeImage::Root:
        return application();
    case TreeImage::Downloading:
        return standard(QStyle::SP_ArrowDown);
    case TreeImage::Downloaded:
        return standard(QStyle::SP_DirOpenIcon);
    case TreeImage::Deleted:
        return standard(QStyle::SP_TrashIcon);
    case TreeImage::Category:
        return standard(QStyle::SP_DirIcon);
    }
    return {};
}

QIcon itemImage(ItemState state)
{
    switch (state) {
    case ItemState::Pending:
        return standard(QStyle::SP_MediaPause);
    case ItemState::New:
        return standard(QStyle::SP_ArrowDown);
    case ItemState::Failed:
    case ItemState::Deleted:
        return standard(QStyle::SP_DialogCancelButton);
    case ItemState::Downloaded:
        return standard(QStyle::SP_DialogApplyButton);
    }
    return standard(QStyle::SP_FileIcon);
}

} // namespace Icons
