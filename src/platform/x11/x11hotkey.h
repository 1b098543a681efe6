#pragma once

#include "hotkey.h"

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <vector>

struct xcb_connection_t;

/// F7 grabbed on the X11 root window, once for each state of the lock keys (Caps Lock, Num Lock)
/// so that the key works whatever they are; Shift+F7 and the like still reach the focused window.
/// The key presses arrive through Qt's own X connection and are taken out of its event stream.
class X11HotKey final : public HotKey, private QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    explicit X11HotKey(QObject* parent = nullptr);
    ~X11HotKey() override;
    Q_DISABLE_COPY_MOVE(X11HotKey)

    bool registerKey() override;
    void unregisterKey() override;
    bool isRegistered() const override { return m_registered; }

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    std::vector<std::uint16_t> lockModifierCombinations() const;

    xcb_connection_t* m_connection = nullptr;
    std::uint32_t m_root = 0;
    std::uint8_t m_keycode = 0;
    bool m_registered = false;
};
