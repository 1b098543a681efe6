#pragma once

#include "autostart.h"

/// Remembers the autostart switch in memory, for tests.
class FakeAutostart final : public Autostart
{
public:
    bool setEnabled(bool on, const QString& programPath) override
    {
        m_enabled = on;
        m_program = on ? programPath : QString();
        ++m_calls;
        return true;
    }
    bool isEnabled() const override { return m_enabled; }
    QString program() const { return m_program; }
    int calls() const { return m_calls; }

private:
    bool m_enabled = false;
    QString m_program;
    int m_calls = 0;
};
