#pragma once

#include <QObject>
#include <QPoint>

#include <optional>

class QWidget;

/// Lets the user drag a caption-less window by the widgets it watches: the left button held on
/// one of them moves the window as if by its caption. The window manager does the moving where
/// it can; elsewhere the window follows the pointer.
class WindowDrag final : public QObject
{
    Q_OBJECT
public:
    /// Watches `handles`, which belong to `window`.
    WindowDrag(QWidget* window, std::initializer_list<QWidget*> handles);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    std::optional<QPoint> m_hold; ///< where the button took hold, relative to the window
};
