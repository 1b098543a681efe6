#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class Catalogue;
class Vault;
class FileDialogs;
class QWidget;

/// The categories the bar's menu offers between "Downloaded" and kBarSaveTo: the user's own, in
/// their order.
QStringList BarMenuCategories(const Catalogue& catalogue);

/// The entry of the bar's menu that asks where to save the movie.
extern const QString kBarSaveTo;

/// Files the movie at `address` as the shortcut bar's menu does, whichever bar it came from:
/// under the category `caption`, or, for kBarSaveTo, in a file the user chooses (filed under
/// "Downloaded"); then starts its download. When the movie is filed already a question comes,
/// and `beforeQuestion` runs first. `parent` owns the dialogs.
void FileMovieFromBar(Vault& app, FileDialogs& dialogs, QWidget* parent, const QString& address,
                      const QString& caption, const std::function<void()>& beforeQuestion = {});
