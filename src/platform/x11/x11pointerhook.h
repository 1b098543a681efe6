#pragma once

#include "pointerhook.h"

#include <QAbstractNativeEventFilter>

#include <cstdint>

struct xcb_connection_t;

/// The hook window: an input-only X window that libmhx sends its "WM_QVNOTIFY" client messages
/// to; the messages arrive through Qt's X connection and are taken out of its event stream.
class X11PointerHook final : public PointerHook, private QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    explicit X11PointerHook(QObject* parent = nullptr);
    ~X11PointerHook() override;
    Q_DISABLE_COPY_MOVE(X11PointerHook)

    bool install(const QString& blockPath) override;
    void remove() override;
    std::uint32_t window() const { return m_window; }

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    xcb_connection_t* m_connection = nullptr;
    std::uint32_t m_window = 0;
    std::uint32_t m_atom = 0;
};
