#pragma once

#include <QPoint>
#include <QWidget>

#include <functional>
#include <memory>

class QMenu;

namespace Ui {
class TMiniForm;
}

/// The hanging window: a small, half-transparent black square that floats above every window
/// and gives a hold on the program while the main window is in the tray. A double click brings
/// the main window back, a right click opens the tray menu, the left button drags it. It has no
/// taskbar entry and starts at 615,170 every time.
class TMiniForm final : public QWidget
{
    Q_OBJECT
public:
    static constexpr QPoint kStartPosition{615, 170};
    static constexpr int kSide = 40;
    static constexpr double kOpacity = 150.0 / 255.0;

    /// `trayMenu` opens on a right click; `showMainWindow` is the "show" half of F7.
    TMiniForm(QMenu* trayMenu, std::function<void()> showMainWindow, QWidget* parent = nullptr);
    ~TMiniForm() override;
    Q_DISABLE_COPY_MOVE(TMiniForm)

    /// The creation sequence: 40 × 40, or no area at all when the option is off.
    void FormCreate(bool shown);
    /// The option changed: the window becomes 40 × 40 and is shown exactly when it is on.
    void applyOption(bool shown);
    /// The main window came up: this one comes along, but a window of no area stays unseen.
    void showWithMainWindow();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    std::unique_ptr<Ui::TMiniForm> m_ui;
    QMenu* m_trayMenu;
    std::function<void()> m_showMainWindow;
};
