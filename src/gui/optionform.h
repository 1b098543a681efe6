#pragma once

#include <QDialog>

#include <memory>

class Autostart;
class Vault;
struct OptionsRecord;
struct VaultSettings;

namespace Ui {
class TOptionForm;
}

/// The options dialog "Clip Vault Options": copies a record into its controls and back.
class TOptionForm final : public QDialog
{
    Q_OBJECT
public:
    explicit TOptionForm(QWidget* parent = nullptr);
    ~TOptionForm() override;
    Q_DISABLE_COPY_MOVE(TOptionForm)

    /// Shows the flags of the record in the controls.
    void loadFrom(const OptionsRecord& options, const VaultSettings& settings);
    /// Copies the controls back into the flags they show; the first and the last byte of the
    /// record have no control and stay as they are.
    void storeInto(OptionsRecord& options, VaultSettings& settings) const;

private:
    std::unique_ptr<Ui::TOptionForm> m_ui;
};

/// Edits the options in the dialog. True when the user pressed OK (the record is updated then);
/// on Cancel the record is left untouched.
bool EditOptions(OptionsRecord& options, VaultSettings& settings, QWidget* parent = nullptr);

/// Edits the vault's options in the dialog; on OK they take effect at once and are saved, and a
/// failed save is told. With the desktop's `autostart` given, its box shows whether the entry
/// exists (not the stored byte, which a first run sets before any entry is written), and OK
/// writes or removes the entry. True when the user pressed OK.
bool EditVaultOptions(Vault& vault, QWidget* parent, Autostart* autostart = nullptr);
