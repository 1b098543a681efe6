#pragma once

#include <QObject>

#include <array>

class QAction;

/// The main window's commands, one QAction each, shared by the menus, the tool bar, the context
/// menus and the tray menu. Each action's object name is its command name.
class MainActions final : public QObject
{
    Q_OBJECT
public:
    enum Id {
        SetOptions,
        ExitAction,
        Count,
    };

    explicit MainActions(QObject* parent = nullptr);

    QAction* action(Id id) const { return m_actions[id]; }

private:
    std::array<QAction*, Count> m_actions{};
};
