#pragma once

#include <QObject>

class Catalogue;
class DownloadFlow;
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
                 const OptionsRecord& options, UserPrompt& prompt);

    void AddFlashItemActionExecute();
    void StartDownActionExecute();
    void UpdateItemPropertyExecute();
    void AddCategoryActionExecute();
    void DeleteCategoryActionExecute();
    void UpdateCatPropertyExecute();

private:
    /// Position of the first selected row's item, -1 when none.
    int selectedItem() const;

    TClipVaultMain& m_window;
    Catalogue& m_catalogue;
    DownloadFlow& m_downloads;
    const OptionsRecord& m_options;
    UserPrompt& m_prompt;
};
