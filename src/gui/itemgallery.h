#pragma once

#include <QCache>
#include <QListView>
#include <QStaticText>
#include <QStyledItemDelegate>

class PictureShelf;
class PictureKeeper;

/// The item list as a grid of the movies' pictures with their names: a second view of the
/// list's own model and selection, so that every command, the context menu and dragging rows
/// work on it as on the list. Tiles are all of one size, and a picture is read only when its
/// tile comes into view.
class ItemGallery final : public QListView
{
    Q_OBJECT
public:
    /// `pictures`, when given, says when a movie's picture is drawn anew.
    explicit ItemGallery(PictureKeeper* pictures, QWidget* parent = nullptr);
    ~ItemGallery() override;
    Q_DISABLE_COPY_MOVE(ItemGallery)

    static constexpr int kTileWidth = 176;
    static constexpr int kTileHeight = 164;

private:
    PictureShelf* m_shelf;
};

/// Paints one tile: the picture, or a plain panel with why there is none, and the name below.
class GalleryDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
public:
    GalleryDelegate(PictureShelf& shelf, QObject* parent = nullptr);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    /// The name as a tile shows it, laid out once.
    const QStaticText& nameOf(const QString& text, const QFont& font, int width) const;

    PictureShelf& m_shelf;
    mutable QCache<QString, QStaticText> m_names{4096};
};
