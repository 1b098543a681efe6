#include "maincommands.h"

#include "addtaskfromurl.h"
#include "catalogue.h"
#include "desktopopen.h"
#include "flashpreview.h"
#include "categorymanage.h"
#include "clipvaultmain.h"
#include "downloadflow.h"
#include "options.h"
#include "userprompt.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

MainCommands::MainCommands(TClipVaultMain& window, Catalogue& catalogue, DownloadFlow& downloads,
                           const OptionsRecord& options, UserPrompt& prompt, DesktopOpen& desktop,
                           MovieServer& movieServer)
    : QObject(&window)
    , m_window(window)
    , m_catalogue(catalogue)
    , m_downloads(downloads)
    , m_options(options)
    , m_prompt(prompt)
    , m_desktop(desktop)
    , m_movieServer(movieServer)
{
}

int MainCommands::selectedItem() const
{
    const QString url = m_window.selectedItemUrl();
    return url.isEmpty() ? -1 : m_catalogue.FindItemByUrl(url);
}

void MainCommands::AddFlashItemActionExecute()
{
    ItemRecord record = EmptyItemRecord();
    if (!ShowAddTaskDialog(record, m_catalogue, &m_window))
        return;
    const bool startNow = record.StartNow == 1;
    record.State = static_cast<char>(startNow ? ItemState::New : ItemState::Pending);
    const int index = m_catalogue.AppendItem(record);
    if (m_options.NotifyTaskAdded)
        m_prompt.inform(FieldText(record.Url) + QStringLiteral(" added!"),
                        QStringLiteral("Information"));
    if (startNow && index >= 0)
        m_downloads.StartItemDownload(index);
    else
        m_window.RefreshItemList();
}

void MainCommands::StartDownActionExecute()
{
    const int index = selectedItem();
    if (index >= 0)
        m_downloads.StartItemDownload(index);
}

void MainCommands::UpdateItemPropertyExecute()
{
    const int index = selectedItem();
    if (index < 0 || m_window.selectedNodeText().isNull())
        return;
    // The dialog edits a copy that replaces the record on OK: the user interface stays live while
    // it is open, and a download may settle the item meanwhile.
    const QString url = FieldText(m_catalogue.item(index).Url);
    ItemRecord record = m_catalogue.item(index);
    if (!ShowAddTaskDialog(record, m_catalogue, &m_window))
        return;
    const int now = m_catalogue.FindItemByUrl(url);
    if (now < 0)
        return;
    record.State = static_cast<char>(m_catalogue.itemState(now));
    m_catalogue.updateItem(now, record);
    m_window.RefreshItemList();
}

void MainCommands::AddCategoryActionExecute()
{
    CategoryRecord record = EmptyCategoryRecord();
    if (!ShowCategoryDialog(record, m_catalogue, &m_window))
        return;
    m_catalogue.AddCategory(record);
    m_window.RefreshCategoryTree();
}

void MainCommands::DeleteCategoryActionExecute()
{
    const QString node = m_window.selectedNodeText();
    if (node.isNull())
        return;
    m_catalogue.RemoveCategory(node.trimmed());
    m_window.RefreshCategoryTree();
}

void MainCommands::UpdateCatPropertyExecute()
{
    const QString node = m_window.selectedNodeText();
    if (node.isNull())
        return;
    const int index = m_catalogue.FindCategory(node.trimmed());
    if (index < 0)
        return;
    CategoryRecord record = m_catalogue.category(index);
    if (!ShowCategoryDialog(record, m_catalogue, &m_window))
        return;
    const int now = m_catalogue.FindCategory(node.trimmed());
    if (now >= 0)
        m_catalogue.updateCategory(now, record);
    m_window.RefreshCategoryTree();
}

void MainCommands::deleteRows(const QStringList& urls)
{
    if (m_window.selectedNodeText() == QLatin1String(builtin::Deleted)) {
        m_catalogue.RemoveItemsByUrl(urls);
    } else {
        for (const QString& url : urls) {
            const int index = m_catalogue.FindItemByUrl(url.trimmed());
            if (index >= 0)
                m_catalogue.SetItemState(index, ItemState::Deleted);
        }
    }
    // Files on disk are never touched.
    m_window.RefreshItemList();
}

void MainCommands::DeleteFlashItemActionExecute()
{
    deleteRows(m_window.selectedItemUrls());
}

void MainCommands::ClearFlashItemActionExecute()
{
    deleteRows(m_window.listedItemUrls());
}

void MainCommands::ExploreItemExecute()
{
    const int index = selectedItem();
    if (index < 0)
        return;
    const QString folder = FieldText(m_catalogue.item(index).Folder);
    if (QFileInfo(folder).isDir())
        m_desktop.open(folder);
}

void MainCommands::PlayStandAloneExecute()
{
    const int index = selectedItem();
    if (index < 0 || m_window.selectedNodeText() == QLatin1String(builtin::Downloading))
        return;
    const QString file = ItemFilePath(m_catalogue.item(index));
    if (QFileInfo(file).isFile())
        m_desktop.open(file);
}

void MainCommands::SimpleFlashPlayer1Click()
{
    // The root folder: the window opens with an empty player.
    ShowFlashPreview(QStringLiteral("/"), m_movieServer, &m_window);
}

std::function<bool(const QString&, const QStringList&)> MainCommands::StartDetached =
    [](const QString& program, const QStringList& arguments) { return QProcess::startDetached(program, arguments); };

QStringList MainCommands::browserCandidates()
{
    return {QStringLiteral("chromium"), QStringLiteral("chromium-browser"), QStringLiteral("google-chrome"),
            QStringLiteral("google-chrome-stable"), QStringLiteral("brave-browser"), QStringLiteral("microsoft-edge")};
}

void MainCommands::OpenBrowserExecute()
{
    for (const QString& candidate : browserCandidates()) {
        const QString program = QStandardPaths::findExecutable(candidate);
        if (program.isEmpty())
            continue;
        const QString profile = QDir(m_window.dataFolder()).filePath(QStringLiteral("browser-profile"));
        QDir().mkpath(profile);
        if (!StartDetached(program, {QStringLiteral("--remote-debugging-port=0"), QStringLiteral("--user-data-dir=") + profile}))
            m_prompt.inform(QStringLiteral("%1 could not be started.").arg(program), QStringLiteral("Information"));
        return;
    }
    m_prompt.inform(QStringLiteral("No Chromium-family browser (Chromium, Chrome, Brave, Edge) is installed."),
                    QStringLiteral("Information"));
}
