#pragma once

#include <QDialog>

#include <memory>

class Catalogue;
class FileDialogs;
struct CategoryRecord;

namespace Ui {
class TCategoryManage;
}

/// The category dialog: names a category and chooses the folder its movies go to, creating the
/// folder on OK. Adding the category to the catalogue is the caller's business.
class TCategoryManage final : public QDialog
{
    Q_OBJECT
public:
    TCategoryManage(const Catalogue& catalogue, FileDialogs& dialogs, QWidget* parent = nullptr);
    ~TCategoryManage() override;
    Q_DISABLE_COPY_MOVE(TCategoryManage)

    void loadFrom(const CategoryRecord& record);
    /// Copies name and folder into the record (on OK); other fields stay as they were.
    void storeInto(CategoryRecord& record) const;

private:
    void edtcatnameChange(const QString& text);
    void BitBtn1Click();
    void btnOkClick();

    std::unique_ptr<Ui::TCategoryManage> m_ui;
    const Catalogue& m_catalogue;
    FileDialogs& m_dialogs; ///< the folder picker behind "..."
};

/// Edits the record in the category dialog. True when OK was pressed; on Cancel the record is
/// left untouched.
bool ShowCategoryDialog(CategoryRecord& record, const Catalogue& catalogue, FileDialogs& dialogs,
                        QWidget* parent = nullptr);
