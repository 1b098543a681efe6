#pragma once

#include "windowfocus.h"

struct xcb_connection_t;

/// The active window through the EWMH properties, on Qt's own X connection.
class X11WindowFocus final : public WindowFocus
{
public:
    X11WindowFocus();
    quint32 foreignActiveWindow() override;
    void activate(quint32 window) override;

private:
    quint32 atom(const char* name) const;
    /// The first 32-bit value of a property of `window`; 0 when it has none.
    quint32 cardinal(quint32 window, quint32 property, quint32 type) const;

    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
};
