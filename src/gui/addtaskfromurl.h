#pragma once

#include <QDialog>

#include <memory>

class Catalogue;
struct ItemRecord;

namespace Ui {
class TAddTaskfromUrl;
}

/// The add-task dialog: a new download task from a typed URL ("Add a Flash item with its URL"),
/// or the properties of a catalogued item ("Properties"). It edits the record's URL, category,
/// folder, file name, comment and start mode; it never changes the state or starts anything.
class TAddTaskfromUrl final : public QDialog
{
    Q_OBJECT
public:
    explicit TAddTaskfromUrl(const Catalogue& catalogue, QWidget* parent = nullptr);
    ~TAddTaskfromUrl() override;
    Q_DISABLE_COPY_MOVE(TAddTaskfromUrl)

    /// Shows the record: an empty URL means a new task, any other one the item's properties.
    /// "Keep the files it loads" shows the item's own choice, else `keepFilesByDefault`.
    void loadFrom(const ItemRecord& record, bool keepFilesByDefault = true);
    /// Copies the fields into the record (on OK).
    void storeInto(ItemRecord& record);

private:
    void fillCategories();
    void edtUrlChange(const QString& text);
    void cmbCategorySelect();

    std::unique_ptr<Ui::TAddTaskfromUrl> m_ui;
    const Catalogue& m_catalogue;
    bool m_keepFilesByDefault = true;
};

/// Edits the record in the add-task dialog. True when OK was pressed; on Cancel the record is
/// left untouched.
bool ShowAddTaskDialog(ItemRecord& record, const Catalogue& catalogue, bool keepFilesByDefault,
                       QWidget* parent = nullptr);
