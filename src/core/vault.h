#pragma once

#include "catalogue.h"
#include "cataloguesaver.h"
#include "cataloguestore.h"
#include "datafolder.h"
#include "downloadflow.h"
#include "importqueue.h"
#include "options.h"
#include "webarchive.h"

#include <QObject>
#include <QString>

class UserPrompt;

/// What one run of the program or of the command-line tool owns, windows aside: the data
/// folder, the options, the catalogue and its logs, and the download flow. The windows, the
/// tray and the bar are views of it and follow its options as they change; it outlives them.
class Vault : public QObject
{
    Q_OBJECT
public:
    /// Starts with `options` until the options file is read; `prompt` lives as long as the
    /// vault; the data folder holds the logs and the options file.
    Vault(const QString& dataFolder, const OptionsRecord& options, UserPrompt& prompt,
          QObject* parent = nullptr);
    ~Vault() override;
    Q_DISABLE_COPY_MOVE(Vault)

    QString dataFolder() const { return m_dataFolder; }
    const OptionsRecord& options() const { return m_options; }
    /// Takes new options and tells whoever follows them. They reach the options file with the
    /// next SaveOptionsFile.
    void setOptions(const OptionsRecord& options);
    /// The options of clipvault.conf; they reach it with the next SaveOptionsFile.
    const VaultSettings& settings() const { return m_settings; }
    /// The web archive lost files are looked for in; none while the option is off.
    ArchiveAccess archiveAccess() const;
    UserPrompt& prompt() const { return m_prompt; }
    Catalogue& catalogue() { return m_catalogue; }
    const Catalogue& catalogue() const { return m_catalogue; }
    CatalogueStore& store() { return m_store; }
    DownloadFlow& downloads() { return m_downloads; }
    /// Movies already on disk brought into the catalogue, one import at a time.
    ImportQueue& imports() { return m_imports; }

    /// Reads what the data folder holds, options first (every later step reads them), then the
    /// catalogue, and saves the catalogue as it changes from then on (saver()). Done once,
    /// before any view of the vault is made.
    void open();
    /// Reads "clipvault.opt" into the options, and clipvault.conf's options.
    void LoadOptionsFile();
    /// Writes the options, both files; false with the message for the user in `error`.
    bool SaveOptionsFile(QString* error);
    /// Takes both kinds of options as the Options dialog left them, tells whoever follows them
    /// once, and saves them; false with the message for the user in `error`.
    bool applyOptions(const OptionsRecord& options, const VaultSettings& settings, QString* error);
    /// Reads the items log, then the category log.
    void LoadCatalogue();
    /// Writes both logs without asking anything. Saving is possible only once the logs were
    /// read: a save before would replace the user's catalogue by an empty one.
    bool saveCatalogue(QString* error = nullptr);
    /// Saves the catalogue in the background as it changes; tells of a failed save.
    CatalogueSaver& saver() { return m_saver; }

    /// What the user must hear once after start-up: options or logs that could not be read
    /// whole. Empty when all was well.
    QString startupNotice() const;

signals:
    /// The options changed (also when a switch was set to what it was).
    void optionsChanged();

private:
    void applySettings();

    QString m_dataFolder;
    OptionsRecord m_options; ///< before the catalogue and the flow, which read it
    VaultSettings m_settings;
    UserPrompt& m_prompt;
    Catalogue m_catalogue;
    CatalogueStore m_store;
    CatalogueSaver m_saver;
    DownloadFlow m_downloads;
    ImportQueue m_imports;
    QString m_optionsNotice;
    bool m_loaded = false;
};
