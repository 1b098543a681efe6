#pragma once

#include "pointerhook.h"

/// A pointer watch without a display: installing fails quietly unless a test says otherwise.
class FakePointerHook final : public PointerHook
{
    Q_OBJECT
public:
    explicit FakePointerHook(bool installable = false, QObject* parent = nullptr)
        : PointerHook(parent)
        , m_installable(installable)
    {
    }
    bool install(const QString&) override { return m_installed = m_installable; }
    void remove() override { m_installed = false; }
    bool isInstalled() const { return m_installed; }

private:
    bool m_installable;
    bool m_installed = false;
};
