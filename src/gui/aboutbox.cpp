#include "aboutbox.h"

#include "ui_aboutbox.h"

#include "icons.h"

#include <QCoreApplication>

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TAboutBox>())
{
    m_ui->setupUi(this);
    m_ui->ProgramIcon->setPixmap(Icons::application().pixmap(64, 64));
    m_ui->ProductName->setText(QStringLiteral("<b>Clip Vault</b><br>version %1")
                                   .arg(QCoreApplication::applicationVersion()));
}

TAboutBox::~TAboutBox() = default;
