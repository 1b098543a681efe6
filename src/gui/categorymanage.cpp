#include "categorymanage.h"

#include "ui_categorymanage.h"

#include "catalogue.h"

#include "filedialogs.h"

#include <QDir>

TCategoryManage::TCategoryManage(const Catalogue& catalogue, FileDialogs& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TCategoryManage>())
    , m_catalogue(catalogue)
    , m_dialogs(dialogs)
{
    m_ui->setupUi(this);
    connect(m_ui->edtcatname, &QLineEdit::textChanged, this, &TCategoryManage::edtcatnameChange);
    connect(m_ui->BitBtn1, &QToolButton::clicked, this, &TCategoryManage::BitBtn1Click);
    connect(m_ui->btnOk, &QPushButton::clicked, this, &TCategoryManage::btnOkClick);
}

TCategoryManage::~TCategoryManage() = default;

void TCategoryManage::loadFrom(const CategoryRecord& record)
{
    if (FieldBytes(record.Name).isEmpty())
        return;
    m_ui->edtcatname->setText(FieldText(record.Name));
    m_ui->edtcatpath->setText(FieldText(record.Folder));
}

// Typing a name proposes its folder: the existing category's, or one below the default folder.
void TCategoryManage::edtcatnameChange(const QString& text)
{
    // A category needs a name: blanks alone are none.
    m_ui->btnOk->setEnabled(!text.trimmed().isEmpty());
    const int index = m_catalogue.FindCategory(text);
    m_ui->edtcatpath->setText(index >= 0 ? FieldText(m_catalogue.category(index).Folder)
                                         : DefaultSaveFolder() + text);
}

void TCategoryManage::BitBtn1Click()
{
    const QString folder =
        m_dialogs.browseForFolder(this, QStringLiteral("Select a directory for this Category"));
    if (!folder.isEmpty())
        m_ui->edtcatpath->setText(folder);
}

void TCategoryManage::btnOkClick()
{
    const QString folder = m_ui->edtcatpath->text();
    if (folder.isEmpty() || m_ui->edtcatname->text().trimmed().isEmpty())
        return;
    QDir().mkpath(folder); // a folder that cannot be made is stored all the same
    accept();
}

void TCategoryManage::storeInto(CategoryRecord& record) const
{
    SetFieldText(record.Name, m_ui->edtcatname->text());
    SetFieldText(record.Folder, CompletedCategoryFolder(m_ui->edtcatpath->text(), {}));
}

bool ShowCategoryDialog(CategoryRecord& record, const Catalogue& catalogue, FileDialogs& dialogs,
                        QWidget* parent)
{
    TCategoryManage dialog(catalogue, dialogs, parent);
    dialog.loadFrom(record);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.storeInto(record);
    return true;
}
