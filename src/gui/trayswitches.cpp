#include "trayswitches.h"

#include "vault.h"
#include "hookappform.h"
#include "mainactions.h"
#include "miniform.h"
#include "options.h"
#include "userprompt.h"

#include <QAction>

TraySwitches::TraySwitches(const MainActions& actions, Vault& app, THookappForm& hookForm,
                           TMiniForm& miniForm, QObject* parent)
    : QObject(parent)
    , m_actions(actions)
    , m_app(app)
    , m_hookForm(hookForm)
    , m_miniForm(miniForm)
{
    connect(m_actions.action(MainActions::ShowVaultBar1), &QAction::triggered, this,
            &TraySwitches::ShowVaultBar1Click);
    connect(m_actions.action(MainActions::ShowMiniWin1), &QAction::triggered, this,
            &TraySwitches::ShowMiniWin1Click);
    connect(&m_app, &Vault::optionsChanged, this, &TraySwitches::applyOptions);
    showChecks();
}

void TraySwitches::showChecks()
{
    const OptionsRecord& options = m_app.options();
    m_actions.action(MainActions::ShowVaultBar1)->setChecked(options.ShortcutBarEnabled != 0);
    m_actions.action(MainActions::ShowMiniWin1)->setChecked(options.HangingWindowVisible != 0);
}

void TraySwitches::applyOptions()
{
    const OptionsRecord& options = m_app.options();
    showChecks();
    applyWatch(options.ShortcutBarEnabled != 0);
    m_miniForm.applyOption(options.HangingWindowVisible != 0);
}

void TraySwitches::applyWatch(bool enabled)
{
    if (enabled && !m_hookForm.HookInstalled())
        m_hookForm.installHook();
    else if (!enabled && m_hookForm.HookInstalled())
        m_hookForm.removeHook();
    m_hookForm.setHookInstalled(enabled);
}

void TraySwitches::ShowVaultBar1Click(bool checked)
{
    OptionsRecord options = m_app.options();
    options.ShortcutBarEnabled = checked ? 1 : 0;
    m_app.setOptions(options); // the watch follows in applyOptions
    saveOptions();
}

void TraySwitches::ShowMiniWin1Click(bool checked)
{
    OptionsRecord options = m_app.options();
    options.HangingWindowVisible = checked ? 1 : 0;
    m_app.setOptions(options);
    saveOptions();
}

void TraySwitches::saveOptions()
{
    QString error;
    if (!m_app.SaveOptionsFile(&error))
        m_app.prompt().inform(error, QStringLiteral("Clip Vault"));
}
