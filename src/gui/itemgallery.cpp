#include "itemgallery.h"

#include "itemlistmodel.h"
#include "picturekeeper.h"
#include "pictureshelf.h"

#include <QApplication>
#include <QPainter>

namespace {

/// The pictures the gallery keeps in memory: a few screens of them.
constexpr qint64 kShelfBytes = qint64(48) << 20;
constexpr int kMargin = 6;

} // namespace

ItemGallery::ItemGallery(PictureKeeper* pictures, QWidget* parent)
    : QListView(parent)
    , m_shelf(new PictureShelf(kPictureSide, kShelfBytes, this))
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

QSize GalleryDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return {ItemGallery::kTileWidth, ItemGallery::kTileHeight};
}

void GalleryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const
{
    const QRect tile = option.rect.adjusted(kMargin / 2, kMargin / 2, -kMargin / 2, -kMargin / 2);
    const QPalette& palette = option.palette;
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    if (selected)
        painter->fillRect(tile, palette.highlight());
    const int textHeight = option.fontMetrics.height() + 4;
    const QRect stage(tile.left() + kMargin, tile.top() + kMargin, tile.width() - 2 * kMargin,
                      tile.height() - 2 * kMargin - textHeight);
    const PictureShelf::Shelved* shelved =
        m_shelf.find(index.data(ItemListModel::ContentRole).toByteArray());
    if (shelved && !shelved->picture.isNull()) {
        const QSize size = shelved->picture.size().scaled(stage.size(), Qt::KeepAspectRatio);
        const QRect place(stage.center() - QPoint(size.width() / 2, size.height() / 2), size);
        painter->drawImage(place, shelved->picture);
    } else {
        // A plain panel: the movie is not drawn yet, or could not be, and says why.
        painter->fillRect(stage, palette.alternateBase());
        painter->setPen(palette.color(QPalette::PlaceholderText));
        const QString note = shelved && !shelved->failure.isEmpty() ? shelved->failure
                                                                    : QStringLiteral("Flash");
        painter->drawText(stage.adjusted(4, 4, -4, -4),
                          Qt::AlignCenter | Qt::TextWordWrap, note);
    }
    painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                             : palette.color(QPalette::Text));
    const QRect nameBox(tile.left() + 2, stage.bottom() + 4, tile.width() - 4, textHeight - 2);
    painter->drawText(nameBox, Qt::AlignHCenter | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(index.data().toString().section(u'/', -1),
                                                    Qt::ElideMiddle, nameBox.width()));
    if (option.state & QStyle::State_HasFocus)
        painter->drawRect(tile.adjusted(0, 0, -1, -1));
    painter->restore();
}
