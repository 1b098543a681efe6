#include "importmovies.h"

#include "ui_importmovies.h"

#include "catalogue.h"
#include "filedialogs.h"

#include <QDir>
#include <QFileInfo>

TImportMovies::TImportMovies(const Catalogue& catalogue, const QString& category,
                             FileDialogs& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TImportMovies>())
    , m_dialogs(dialogs)
{
    m_ui->setupUi(this);
    // Movies are filed as downloaded: the two lists of the download's own states take none.
    for (const CategoryRecord& record : catalogue.categories()) {
        const QString name = FieldText(record.Name);
        if (name != QLatin1String(builtin::Downloading) && name != QLatin1String(builtin::Deleted))
            m_ui->cmbCategory->addItem(name);
    }
    const int chosen = m_ui->cmbCategory->findText(category);
    m_ui->cmbCategory->setCurrentIndex(
        chosen >= 0 ? chosen : m_ui->cmbCategory->findText(QLatin1String(builtin::Downloaded)));
    connect(m_ui->edtSource, &QLineEdit::textChanged, this, &TImportMovies::sourceChanged);
    connect(m_ui->btnFolder, &QPushButton::clicked, this, [this] {
        const QString folder =
            m_dialogs.browseForFolder(this, QStringLiteral("The folder to import movies from"));
        if (!folder.isEmpty())
            m_ui->edtSource->setText(QDir::toNativeSeparators(folder));
    });
    connect(m_ui->btnFile, &QPushButton::clicked, this, [this] {
        const QString file = m_dialogs.chooseImportFile(this);
        if (!file.isEmpty())
            m_ui->edtSource->setText(QDir::toNativeSeparators(file));
    });
}

TImportMovies::~TImportMovies() = default;

ImportRequest TImportMovies::request() const
{
    return {QDir::fromNativeSeparators(m_ui->edtSource->text().trimmed()),
            m_ui->cmbCategory->currentText(), m_ui->chkCopy->isChecked()};
}

void TImportMovies::sourceChanged()
{
    const QString source = m_ui->edtSource->text().trimmed();
    m_ui->btnOk->setEnabled(!source.isEmpty() && QFileInfo::exists(source));
}
