#pragma once

#include "movieimport.h"

#include <QDialog>

#include <memory>

class Catalogue;
class FileDialogs;

namespace Ui {
class TImportMovies;
}

/// The import dialog: what to bring in (a folder or a file, picked or typed), the category to
/// file it under, and whether a folder's movies are copied into the category's folder.
class TImportMovies final : public QDialog
{
    Q_OBJECT
public:
    /// Offers the categories items can be filed under, `category` chosen.
    TImportMovies(const Catalogue& catalogue, const QString& category, FileDialogs& dialogs,
                  QWidget* parent = nullptr);
    ~TImportMovies() override;
    Q_DISABLE_COPY_MOVE(TImportMovies)

    ImportRequest request() const;

private:
    void sourceChanged();

    std::unique_ptr<Ui::TImportMovies> m_ui;
    FileDialogs& m_dialogs;
};
