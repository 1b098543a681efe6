#pragma once

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>

class PointerHook;
class SharedBlock;
class UserPrompt;

/// The hook window (never shown): sets up the shared block, installs the desktop-wide pointer
/// watch while the shortcut bar is enabled, and hands each notified point to one handler.
class THookappForm final : public QObject
{
    Q_OBJECT
public:
    /// `blockPath`: the shared block's file (SharedBlock::PathFor), empty when there is none.
    THookappForm(PointerHook& hook, UserPrompt& prompt, QString blockPath,
                 QObject* parent = nullptr);
    /// Removes the watch.
    ~THookappForm() override;
    Q_DISABLE_COPY_MOVE(THookappForm)

    /// The creation sequence: the block is set up, then the watch installed when `enabled` and
    /// `watchable` (false where there is no desktop to watch: then nothing is said).
    /// HookInstalled takes the option's value either way.
    void FormCreate(bool enabled, bool watchable = true);
    /// Installs the watch; on failure says "Enable Mouse Hook failed.". True when installed.
    bool installHook();
    void removeHook();
    /// Whether the watch is believed to be installed: it follows the option, also when
    /// installing failed.
    bool HookInstalled() const { return m_installed; }
    void setHookInstalled(bool installed) { m_installed = installed; }

    /// Receives each point the watch reports (the shortcut bar's handler).
    void setPointerHandler(std::function<void(QPoint)> handler) { m_handler = std::move(handler); }

    const SharedBlock& block() const { return *m_block; }

private:
    void WndProc();

    PointerHook& m_hook;
    UserPrompt& m_prompt;
    QString m_blockPath;
    std::unique_ptr<SharedBlock> m_block;
    std::function<void(QPoint)> m_handler;
    bool m_installed = false;
};
