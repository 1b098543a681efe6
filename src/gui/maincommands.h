#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class Catalogue;
class DesktopOpen;
class DownloadFlow;
class MovieServer;
class TClipVaultMain;
class UserPrompt;
struct OptionsRecord;

/// The item and category commands of the main window: adding a task, downloading, editing an
/// item's properties, and adding, deleting and editing categories.
class MainCommands final : public QObject
{
    Q_OBJECT
public:
    MainCommands(TClipVaultMain& window, Catalogue& catalogue, DownloadFlow& downloads,
                 const OptionsRecord& options, UserPrompt& prompt, DesktopOpen& desktop,
                 MovieServer& movieServer);

    void AddFlashItemActionExecute();
    void StartDownActionExecute();
    void UpdateItemPropertyExecute();
    void AddCategoryActionExecute();
    void DeleteCategoryActionExecute();
    void UpdateCatPropertyExecute();
    void DeleteFlashItemActionExecute();
    void ClearFlashItemActionExecute();
    void ExploreItemExecute();
    void PlayStandAloneExecute();
    void SimpleFlashPlayer1Click();
    /// Starts the first installed Chromium-family browser with a debugging port and a profile of
    /// its own in the data folder (current browsers refuse a port on their default profile).
    void OpenBrowserExecute();

    /// Starts a program detached; replaceable so that tests start nothing.
    static std::function<bool(const QString& program, const QStringList& arguments)> StartDetached;
    /// The browsers tried, in order.
    static QStringList browserCandidates();

private:
    /// Position of the first selected row's item, -1 when none.
    int selectedItem() const;
    /// Moves the rows' items to "Deleted", or out of the catalogue inside "Deleted".
    void deleteRows(const QStringList& urls);

    TClipVaultMain& m_window;
    Catalogue& m_catalogue;
    DownloadFlow& m_downloads;
    const OptionsRecord& m_options;
    UserPrompt& m_prompt;
    DesktopOpen& m_desktop;
    MovieServer& m_movieServer;
};
