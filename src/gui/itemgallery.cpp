#include "itemgallery.h"

#include "itemlistmodel.h"
#include "picturekeeper.h"
#include "pictureshelf.h"

#include <QApplication>
#include <QPainter>
#include <QStaticText>
#include <QPaintEvent>
#include <cstdio>

namespace {

/// The pictures the gallery keeps in memory: a few screens of them.
constexpr qint64 kShelfBytes = qint64(48) << 20;
constexpr int kMargin = 6;

/// Where a tile's picture goes, and its name below it.
QRect stageOf(const QRect& tile, const QFontMetrics& font)
{
    const int textHeight = font.height() + 4;
    return {tile.left() + kMargin, tile.top() + kMargin, tile.width() - 2 * kMargin,
            tile.height() - 2 * kMargin - textHeight};
}

QRect tileOf(const QRect& cell)
{
    return cell.adjusted(kMargin / 2, kMargin / 2, -kMargin / 2, -kMargin / 2);
}

/// The size a picture is drawn at: the stage of a tile.
QSize pictureBox(const QFontMetrics& font)
{
    return stageOf(tileOf(QRect(0, 0, ItemGallery::kTileWidth, ItemGallery::kTileHeight)), font)
        .size();
}

} // namespace

ItemGallery::ItemGallery(PictureKeeper* pictures, QWidget* parent)
    : QListView(parent)
    , m_shelf(new PictureShelf(pictureBox(fontMetrics()), kShelfBytes, this))
{
    setObjectName(QStringLiteral("lvGallery"));
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true);
    setGridSize(QSize(kTileWidth, kTileHeight));
    setSpacing(0);
    setWordWrap(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    // A tile stands for its whole row: the commands ask the shared selection for rows.
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setItemDelegate(new GalleryDelegate(*m_shelf, this));
    connect(m_shelf, &PictureShelf::shelved, viewport(), qOverload<>(&QWidget::update));
    if (pictures)
        connect(pictures, &PictureKeeper::pictureMade, this, [this](const QByteArray& sha256) {
            m_shelf->forget(sha256);
            viewport()->update();
        });
}

ItemGallery::~ItemGallery() = default;

GalleryDelegate::GalleryDelegate(PictureShelf& shelf, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_shelf(shelf)
{
}

const QStaticText& GalleryDelegate::nameOf(const QString& text, const QFont& font, int width) const
{
    // Laying a name out is most of what drawing a tile costs: each is laid out once, and drawn
    // as it was laid out on every frame after.
    if (const QStaticText* laidOut = m_names.object(text))
        return *laidOut;
    auto* laidOut = new QStaticText(
        QFontMetrics(font).elidedText(text.section(u'/', -1), Qt::ElideMiddle, width));
    laidOut->setTextFormat(Qt::PlainText);
    laidOut->prepare(QTransform(), font);
    m_names.insert(text, laidOut);
    return *laidOut;
}

QSize GalleryDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return {ItemGallery::kTileWidth, ItemGallery::kTileHeight};
}

void GalleryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const
{
    const QRect tile = tileOf(option.rect);
    const QPalette& palette = option.palette;
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    if (selected)
        painter->fillRect(tile, palette.highlight());
    const int textHeight = option.fontMetrics.height() + 4;
    const QRect stage = stageOf(tile, option.fontMetrics);
    const PictureShelf::Shelved* shelved =
        m_shelf.find(index.data(ItemListModel::ContentRole).toByteArray());
    if (shelved && !shelved->picture.isNull()) {
        const QSize size = shelved->picture.size();
        const QPoint corner = stage.center() - QPoint(size.width() / 2, size.height() / 2);
        painter->drawImage(corner, shelved->picture);
        // A thin frame: a white movie would otherwise melt into the white around it.
        painter->setPen(palette.color(QPalette::Mid));
        painter->drawRect(QRect(corner, size).adjusted(0, 0, -1, -1));
    } else {
        // A plain panel: the movie is not drawn yet, or could not be, and says why.
        painter->fillRect(stage, palette.alternateBase());
        painter->setPen(palette.color(QPalette::PlaceholderText));
        const QString failed = index.data(ItemListModel::FailureRole).toString();
        const QString note = !failed.isEmpty()                        ? failed
                             : shelved && !shelved->failure.isEmpty() ? shelved->failure
                                                                      : QStringLiteral("Flash");
        painter->drawText(stage.adjusted(4, 4, -4, -4), Qt::AlignCenter | Qt::TextWordWrap, note);
    }
    painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                             : palette.color(QPalette::Text));
    const QRect nameBox(tile.left() + 2, stage.bottom() + 4, tile.width() - 4, textHeight - 2);
    const QStaticText& name = nameOf(index.data().toString(), option.font, nameBox.width());
    painter->drawStaticText(nameBox.left() + (nameBox.width() - int(name.size().width())) / 2,
                            nameBox.top() + (nameBox.height() - int(name.size().height())) / 2,
                            name);
    if (option.state & QStyle::State_HasFocus)
        painter->drawRect(tile.adjusted(0, 0, -1, -1));
    painter->restore();
}
