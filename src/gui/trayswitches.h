#pragma once

#include <QObject>

class Vault;
class MainActions;
class THookappForm;
class TMiniForm;

/// The tray's two switches, "Enable Shortcut Bar" and "Show Hanging Window", and what follows the
/// same settings whenever the options change (a switch, the options dialog): the pointer watch
/// installed or removed, the hanging window shown or hidden, the check marks. Each switch saves
/// the options at once.
class TraySwitches final : public QObject
{
    Q_OBJECT
public:
    TraySwitches(const MainActions& actions, Vault& app, THookappForm& hookForm,
                 TMiniForm& miniForm, QObject* parent = nullptr);

    /// The check marks as the options stand.
    void showChecks();
    /// The options as they stand now: the shortcut bar's check mark and pointer watch, then the
    /// hanging window's check mark and window.
    void applyOptions();

    void ShowVaultBar1Click(bool checked);
    void ShowMiniWin1Click(bool checked);

private:
    /// Installs the watch when it should run and is believed off, removes it the other way
    /// round; the belief then follows the option.
    void applyWatch(bool enabled);
    void saveOptions();

    const MainActions& m_actions;
    Vault& m_app;
    THookappForm& m_hookForm;
    TMiniForm& m_miniForm;
};
