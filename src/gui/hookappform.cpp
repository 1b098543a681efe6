#include "hookappform.h"

#include "pointerhook.h"
#include "sharedblock.h"
#include "userprompt.h"

THookappForm::THookappForm(PointerHook& hook, UserPrompt& prompt, QString blockPath,
                           QObject* parent)
    : QObject(parent)
    , m_hook(hook)
    , m_prompt(prompt)
    , m_blockPath(std::move(blockPath))
{
    connect(&m_hook, &PointerHook::notified, this, &THookappForm::WndProc);
}

THookappForm::~THookappForm()
{
    m_hook.remove();
}

void THookappForm::FormCreate(bool enabled, bool watchable)
{
    m_block = std::make_unique<SharedBlock>(m_blockPath);
    if (enabled && watchable)
        installHook();
    m_installed = enabled;
}

bool THookappForm::installHook()
{
    // Without the block (no private folder for it) the watch has nowhere to write. A point left
    // waiting from before would keep the library quiet: the watch starts with the flag down.
    if (m_block)
        m_block->clearFlag();
    const bool installed = m_block && m_block->isMapped() && m_hook.install(m_block->path());
    if (!installed)
        m_prompt.inform(QStringLiteral("Enable Mouse Hook failed."), QStringLiteral("Clip Vault"));
    return installed;
}

void THookappForm::removeHook()
{
    m_hook.remove();
    m_installed = false;
}

void THookappForm::WndProc()
{
    // A notification while the block is not mapped changes nothing.
    if (!m_block)
        return;
    if (const std::optional<QPoint> point = m_block->takePoint(); point && m_handler)
        m_handler(*point);
}
