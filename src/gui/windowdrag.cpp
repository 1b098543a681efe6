#include "windowdrag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

WindowDrag::WindowDrag(QWidget* window, std::initializer_list<QWidget*> handles)
    : QObject(window)
    , m_window(window)
{
    for (QWidget* handle : handles)
        handle->installEventFilter(this);
}

bool WindowDrag::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() != Qt::LeftButton)
            return false;
        QWindow* native = m_window->windowHandle();
        if (!native || !native->startSystemMove())
            m_hold = press->globalPosition().toPoint() - m_window->pos();
        return false;
    }
    case QEvent::MouseMove: {
        auto* move = static_cast<QMouseEvent*>(event);
        if (m_hold && (move->buttons() & Qt::LeftButton))
            m_window->move(move->globalPosition().toPoint() - *m_hold);
        return false;
    }
    case QEvent::MouseButtonRelease:
        m_hold.reset();
        return false;
    default:
        return false;
    }
}
