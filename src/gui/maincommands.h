#pragma once

#include "browsersession.h"
#include "detectflashfromurl.h"

#include <QObject>

#include <functional>
#include <QStringList>

class Catalogue;
class Vault;
class DesktopOpen;
class DownloadFlow;
class FileDialogs;
class ItemSelection;
class MovieServer;
class UserPrompt;
struct ImportRequest;
struct OptionsRecord;

/// The item and category commands of the main window: adding a task, downloading, editing an
/// item's properties, and adding, deleting and editing categories.
class MainCommands final : public QObject
{
    Q_OBJECT
public:
    MainCommands(ItemSelection& selection, Vault& app, MovieServer& movies, DesktopOpen& desktop,
                 FileDialogs& dialogs, BrowserSources browser, QObject* parent = nullptr);

    void AddFlashItemActionExecute();
    /// The detection dialog on the browser's current page, or on the browser's cache; each
    /// movie it returns is added, in order, under its category ("Downloaded" for none) and
    /// downloaded.
    void DetectFlashfromUrlExecute();
    void DetectFlashfromCacheExecute();
    /// The detection dialog on what the browser's visible tab holds.
    void DetectFlashfromTabExecute();
    void StartDownActionExecute();
    /// Task → "Import movies…": the import dialog, then the import in the background.
    void ImportMoviesExecute();
    /// Imports each path into the category of the selected node ("Downloaded" when it takes
    /// none), in place, as dropping files on the window does.
    void importDropped(const QStringList& paths);
    void UpdateItemPropertyExecute();
    void AddCategoryActionExecute();
    void DeleteCategoryActionExecute();
    void UpdateCatPropertyExecute();
    void DeleteFlashItemActionExecute();
    void ClearFlashItemActionExecute();
    void ExploreItemExecute();
    void PlayStandAloneExecute();
    /// Writes the selected downloaded item with its kept files as a Ruffle bundle or a
    /// curation folder, as the user picks.
    void ExportItemExecute();
    void SimpleFlashPlayer1Click();
    /// Starts the first installed Chromium-family browser with a debugging port and a profile of
    /// its own in the data folder (current browsers refuse a port on their default profile).
    void OpenBrowserExecute();
    /// Tools → "Connect your browser…" (TConnectBrowser).
    void ConnectBrowserExecute();

    /// Opens the manual: the file clipvault.conf names ("helppath"), else the one installed with
    /// the program; without either the status bar says so.
    void HelpManualExecute();
    void ShowAboutExecute();

    /// Where the installed manual would be, beside the program or below its prefix.
    static QStringList manualCandidates();

    /// A browser Clip Vault can start with a debugging port and a profile of its own.
    struct BrowserChoice
    {
        QString program; ///< the executable's name
        BrowserKind kind;
    };
    /// The browsers offered, in order, when installed.
    static QList<BrowserChoice> browserCandidates();

    /// Opens the detection dialog on a source, then files and downloads the checked rows.
    void detect(DetectSource source);

signals:
    /// A word for the status bar.
    void statusMessage(const QString& text);

private:
    /// Starts an import; its summary is shown once it is over.
    void importMovies(const ImportRequest& request);
    void startBrowser(const BrowserChoice& browser);
    /// Position of the first selected row's item, -1 when none.
    int selectedItem() const;
    /// Moves the rows' items to "Deleted", or out of the catalogue inside "Deleted".
    void deleteRows(const QStringList& urls);
    /// Whether the desktop opens movies with a program other than this one.
    /// Asks the desktop, one movie type after the other and without waiting, for a player of
    /// its own other than ours; `done` hears whether there is one.
    void findOtherMoviePlayer(int typeIndex, std::function<void(bool found)> done);

    ItemSelection& m_selection;
    Vault& m_app;
    MovieServer& m_movies;
    Catalogue& m_catalogue;
    DownloadFlow& m_downloads;
    const OptionsRecord& m_options;
    UserPrompt& m_prompt;
    DesktopOpen& m_desktop;
    FileDialogs& m_dialogs;
    BrowserSources m_browser;
};
