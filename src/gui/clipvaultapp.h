#pragma once

#include "catalogue.h"
#include "cataloguestore.h"
#include "downloadflow.h"

#include <QObject>
#include <QString>

class MovieServer;
class UserPrompt;
struct OptionsRecord;

/// What one run of the program owns, windows aside: the options, the catalogue and its logs, the
/// download flow and the player's movie server. The main window and the dialogs are views of it;
/// it outlives them all.
class ClipVaultApp final : public QObject
{
    Q_OBJECT
public:
    /// `options` and `prompt` live as long as the program; the data folder holds the logs and
    /// the options file.
    ClipVaultApp(const QString& dataFolder, OptionsRecord& options, UserPrompt& prompt,
                 QObject* parent = nullptr);
    ~ClipVaultApp() override;
    Q_DISABLE_COPY_MOVE(ClipVaultApp)

    QString dataFolder() const { return m_dataFolder; }
    OptionsRecord& options() const { return m_options; }
    UserPrompt& prompt() const { return m_prompt; }
    Catalogue& catalogue() { return m_catalogue; }
    const Catalogue& catalogue() const { return m_catalogue; }
    DownloadFlow& downloads() { return m_downloads; }
    MovieServer& movieServer() const { return *m_movieServer; }

    /// Reads "clipvault.opt" into the options.
    void LoadOptionsFile();
    /// Writes the options; false with the message for the user in `error`.
    bool SaveOptionsFile(QString* error);
    /// Reads the items log, then the category log.
    void LoadCatalogue();
    /// Writes both logs without asking anything. Saving is possible only once the logs were
    /// read: a save before would replace the user's catalogue by an empty one.
    bool saveCatalogue(QString* error = nullptr);

    /// What the user must hear once after start-up: options or logs that could not be read
    /// whole. Empty when all was well.
    QString startupNotice() const;

private:
    QString m_dataFolder;
    OptionsRecord& m_options;
    UserPrompt& m_prompt;
    Catalogue m_catalogue;
    CatalogueStore m_store;
    DownloadFlow m_downloads;
    MovieServer* m_movieServer;
    QString m_optionsNotice;
    bool m_loaded = false;
};
