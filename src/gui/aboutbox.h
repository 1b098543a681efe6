#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TAboutBox;
}

/// "About Clip Vault": the program's picture, its name and version, and "Continue".
class TAboutBox final : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

private:
    std::unique_ptr<Ui::TAboutBox> m_ui;
};
