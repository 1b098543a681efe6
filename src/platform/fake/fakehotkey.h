#pragma once

#include "hotkey.h"

/// A hot key without a display: for tests (press() stands for the key) and for sessions that are
/// not X11 (unavailable, so registering fails quietly).
class FakeHotKey final : public HotKey
{
    Q_OBJECT
public:
    explicit FakeHotKey(bool available = true, QObject* parent = nullptr)
        : HotKey(parent)
        , m_available(available)
    {
    }
    bool registerKey() override { return m_registered = m_available; }
    void unregisterKey() override { m_registered = false; }
    bool isRegistered() const override { return m_registered; }

    /// The user pressed F7: fires only while the key is registered, as a real grab would.
    void press()
    {
        if (m_registered)
            emit activated();
    }

private:
    bool m_available;
    bool m_registered = false;
};
