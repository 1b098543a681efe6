#pragma once

#include "records.h"

#include <QIcon>

/// The program's images: the application icon and the image roles of the tree and item list.
namespace Icons {

/// The application icon (tray, windows, about box).
QIcon application();

/// The Options command's image: a cog wheel.
QIcon settings();

/// The shortcut bar's picture, 74 × 26, and its buttons' glyphs (14 × 14 and 16 × 16).
QPixmap shortcutBar();
QIcon saveToCategory();
QIcon barOptions();

/// Tree images by role: 0 root, 1 Downloading, 2 Downloaded, 3 Deleted, 4 user category.
enum class TreeImage
{
    Root,
    Downloading,
    Downloaded,
    Deleted,
    Category
};
QIcon treeImage(TreeImage image);

/// Item list image of a state: P 0, N 1, F and X 2, D 3.
QIcon itemImage(ItemState state);

} // namespace Icons
