#include "addtaskfromurl.h"

#include "ui_addtaskfromurl.h"

#include "catalogue.h"

#include <QApplication>
#include <QStyle>

TAddTaskfromUrl::TAddTaskfromUrl(const Catalogue& catalogue, QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TAddTaskfromUrl>())
    , m_catalogue(catalogue)
{
    m_ui->setupUi(this);
    QStyle* style = QApplication::style();
    m_ui->img_new->setPixmap(style->standardIcon(QStyle::SP_FileDialogNewFolder).pixmap(32, 32));
    m_ui->img_property->setPixmap(
        style->standardIcon(QStyle::SP_FileDialogInfoView).pixmap(32, 32));
    connect(m_ui->edtUrl, &QLineEdit::textChanged, this, &TAddTaskfromUrl::edtUrlChange);
    connect(m_ui->cmbCategory, &QComboBox::activated, this, &TAddTaskfromUrl::cmbCategorySelect);
    fillCategories();
}

TAddTaskfromUrl::~TAddTaskfromUrl() = default;

// "Downloaded" first, then the user categories; "Downloading" and "Deleted" are views, not
// places to file a movie.
void TAddTaskfromUrl::fillCategories()
{
    m_ui->cmbCategory->clear();
    m_ui->cmbCategory->addItem(QLatin1String(builtin::Downloaded));
    for (const CategoryRecord& category : m_catalogue.categories()) {
        if (!IsBuiltInCategory(FieldBytes(category.Name)))
            m_ui->cmbCategory->addItem(FieldText(category.Name));
    }
}

void TAddTaskfromUrl::loadFrom(const ItemRecord& record, bool keepFilesByDefault)
{
    m_keepFilesByDefault = keepFilesByDefault;
    m_ui->chk_keep_files->setChecked(record.extras.keepFiles.value_or(keepFilesByDefault));
    m_ui->cmbSavePath->setEditText(DefaultSaveFolder());
    const bool newTask = FieldBytes(record.Url).isEmpty();
    m_ui->img_new->setVisible(newTask);
    m_ui->img_property->setVisible(!newTask);
    if (newTask) {
        setWindowTitle(QStringLiteral("Add a Flash item with its URL"));
        m_ui->cmbCategory->setCurrentIndex(0);
        cmbCategorySelect();
        return;
    }
    setWindowTitle(QStringLiteral("Properties"));
    // Why the last download failed, kept with the item: the message box may have been off.
    m_ui->lblFailure->setVisible(!record.extras.failure.isEmpty());
    m_ui->lblFailure->setText(QStringLiteral("The last download failed: ") + record.extras.failure);
    m_ui->txtcomment->setPlainText(FieldText(record.Comment));
    // Setting the URL runs the URL rule, which derives the file name from it again.
    m_ui->edtUrl->setText(FieldText(record.Url));
    m_ui->cmbCategory->setCurrentIndex(
        m_ui->cmbCategory->findText(FieldText(record.Category), Qt::MatchFixedString));
    cmbCategorySelect();
    (record.StartNow == 1 ? m_ui->rdo_immediately : m_ui->rdo_manually)->setChecked(true);
    const ItemState state = record.state();
    if (state == ItemState::Downloaded || state == ItemState::Deleted) {
        m_ui->edtUrl->setReadOnly(true);
        m_ui->rdo_start_immediate->setEnabled(false);
    }
}

void TAddTaskfromUrl::edtUrlChange(const QString& text)
{
    const bool movie = text.contains(QStringLiteral("swf"));
    m_ui->btnOk->setEnabled(movie);
    if (!movie) {
        m_ui->edtSaveFileName->clear();
        return;
    }
    m_ui->edtSaveFileName->setText(text.mid(text.lastIndexOf(u'/') + 1));
}

void TAddTaskfromUrl::cmbCategorySelect()
{
    const int index = m_catalogue.FindCategory(m_ui->cmbCategory->currentText());
    if (index >= 0)
        m_ui->cmbSavePath->setEditText(FieldText(m_catalogue.category(index).Folder));
}

void TAddTaskfromUrl::storeInto(ItemRecord& record)
{
    SetFieldText(record.Url, m_ui->edtUrl->text());
    SetFieldText(record.FileName, m_ui->edtSaveFileName->text());
    QString folder = m_ui->cmbSavePath->currentText();
    if (!folder.endsWith(u'/')) {
        folder += u'/';
        m_ui->cmbSavePath->setEditText(folder);
    }
    // A folder too long for its field is cut but keeps its trailing "/".
    SetFieldText(record.Folder, CompletedCategoryFolder(folder, {}));
    SetFieldText(record.Comment, m_ui->txtcomment->toPlainText());
    SetFieldText(record.Category, m_ui->cmbCategory->currentText());
    record.StartNow = m_ui->rdo_immediately->isChecked() ? 1 : 0;
    // The item keeps a choice of its own only when the user made one: else the option decides.
    const bool keep = m_ui->chk_keep_files->isChecked();
    if (record.extras.keepFiles || keep != m_keepFilesByDefault)
        record.extras.keepFiles = keep;
}

bool ShowAddTaskDialog(ItemRecord& record, const Catalogue& catalogue, bool keepFilesByDefault,
                       QWidget* parent)
{
    TAddTaskfromUrl dialog(catalogue, parent);
    dialog.loadFrom(record, keepFilesByDefault);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.storeInto(record);
    return true;
}
