#pragma once

#include <QLockFile>
#include <QString>

/// The folder that holds the catalogue logs, the options file and clipvault.conf:
/// CLIPVAULT_HOME when set; else the program's own folder when it already holds the options file
/// or a log (a portable install); else $XDG_DATA_HOME/clipvault. Always ends without "/".
QString ResolveDataFolder(const QString& programFolder);

/// The options file in a data folder.
QString OptionsFilePath(const QString& dataFolder);

/// The profiles "Open a browser for Clip Vault" starts its browsers on, in the data folder:
/// browsers refuse a debugging port on the user's everyday profile.
inline constexpr char kChromiumProfileFolder[] = "browser-profile";
inline constexpr char kFirefoxProfileFolder[] = "firefox-profile";

/// Everything clipvault.conf holds, beside the fixed-layout options file, whose eleven bytes
/// stay as they are. The Options dialog edits the first two; the others the user sets in the
/// file, and they are read anew where they are used, so that an edit while the program runs
/// counts from then on.
struct VaultSettings
{
    bool keepFiles = true;     ///< "keepfiles": keep the files a movie loads with it
    bool lookInArchive = true; ///< "archive": look for lost movies in the web archive
    QString helpPath;          ///< "helppath": the manual to open instead of the installed one
    QString archiveUrl;        ///< "archiveurl": the web archive to ask; empty: the usual one
    int archivePaceMs = -1;    ///< "archivepace": between two requests to it; < 0: the usual
    quint16 debuggingPort = 0; ///< "debuggingPort": a Chromium-family browser's; 0: found
    quint16 firefoxPort = 0;   ///< "firefoxPort": Firefox's WebDriver BiDi port; 0: found
    int categoryPaneWidth = 0; ///< "categoryPaneWidth": as the user left it; 0: fitted
    bool gallery = false;      ///< "gallery": the items shown as a grid of pictures
    int itemsPaneHeight = 0;   ///< "itemsPaneHeight": the list's or gallery's; 0: the usual
    bool operator==(const VaultSettings&) const = default;
};
/// The path of the data folder's clipvault.conf.
QString ConfFilePath(const QString& dataFolder);
/// Reads clipvault.conf, the one reader of it; defaults for what it does not say.
VaultSettings LoadVaultSettings(const QString& dataFolder);
/// Writes the options the Options dialog edits into clipvault.conf, keeping its other keys;
/// false with the message in `error`.
bool SaveVaultSettings(const QString& dataFolder, const VaultSettings& settings,
                       QString* error = nullptr);
/// Remembers the width the user gave the category pane.
void SaveCategoryPaneWidth(const QString& dataFolder, int width);
/// Remembers the height the user gave the items' pane (the list or the gallery).
void SaveItemsPaneHeight(const QString& dataFolder, int height);
/// Remembers whether the items are shown as a gallery.
void SaveGalleryChoice(const QString& dataFolder, bool gallery);

/// Whether `notice` is new to the data folder (clipvault.conf's `key` holds the last one told),
/// remembering it: a notice the user has read is not told again at every start, and a new one is.
bool NoticeIsNew(const QString& dataFolder, const QString& key, const QString& notice);

/// The data folder's lock, "clipvault.lock": the program holds it while it runs, the
/// command-line tool while it changes the catalogue, so that neither loads the logs while the
/// other is about to write them. A lock left by a process that died is stale at once.
class DataFolderLock final
{
public:
    explicit DataFolderLock(const QString& dataFolder);
    Q_DISABLE_COPY_MOVE(DataFolderLock)

    /// Takes the lock, waiting up to `waitMs` milliseconds for its holder to let go.
    bool acquire(int waitMs);

    enum class Holder
    {
        Nobody,
        Program,    ///< Clip Vault itself
        SomeoneElse ///< the command-line tool, or a process that is neither
    };
    /// Who holds the lock now, by the holder's executable name.
    Holder holder() const;

private:
    QLockFile m_lock;
};

/// The folder of the program's executables (clipvault, clipvault-cli, the browser host), through
/// /proc alone, never the working folder: the running program's own, or for clipvault-tool,
/// which lives in the private library folder, the executables' folder beside it.
QString ProgramFolder();

/// The program's executable name, which a lock it holds names as its holder.
inline constexpr char kProgramExecutableName[] = "clipvault";
