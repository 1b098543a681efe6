#include "maincommands.h"

#include "importmovies.h"

#include "connectbrowser.h"

#include "cacheenumerator.h"
#include "datafolder.h"
#include "detectflashfromurl.h"

#include "aboutbox.h"
#include "addtaskfromurl.h"
#include "catalogue.h"
#include "categorymanage.h"
#include "vault.h"
#include "desktopopen.h"
#include "downloadflow.h"
#include "filedialogs.h"
#include "flashpreview.h"
#include "itemselection.h"
#include "keptfiles.h"
#include "movieexport.h"
#include "picturecache.h"
#include "webarchive.h"
#include "options.h"
#include "userprompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QInputDialog>
#include <QStandardPaths>

MainCommands::MainCommands(ItemSelection& selection, Vault& app, MovieServer& movies,
                           DesktopOpen& desktop, FileDialogs& dialogs, BrowserSources browser,
                           QObject* parent)
    : QObject(parent)
    , m_selection(selection)
    , m_app(app)
    , m_movies(movies)
    , m_catalogue(app.catalogue())
    , m_downloads(app.downloads())
    , m_options(app.options())
    , m_prompt(app.prompt())
    , m_desktop(desktop)
    , m_dialogs(dialogs)
    , m_browser(std::move(browser))
{
}

int MainCommands::selectedItem() const
{
    const QString url = m_selection.selectedItemUrls().value(0);
    return url.isEmpty() ? -1 : m_catalogue.FindItemByUrl(url);
}

void MainCommands::AddFlashItemActionExecute()
{
    ItemRecord record = EmptyItemRecord();
    if (!ShowAddTaskDialog(record, m_catalogue, m_app.settings().keepFiles,
                           m_selection.dialogOwner()))
        return;
    const bool startNow = record.StartNow == 1;
    record.State = static_cast<char>(startNow ? ItemState::New : ItemState::Pending);
    const int index = m_catalogue.AppendItem(record);
    if (index < 0)
        return; // the user declined to download a catalogued address again
    if (m_options.NotifyTaskAdded)
        m_prompt.inform(FieldText(record.Url) + QStringLiteral(" added!"),
                        QStringLiteral("Information"));
    if (startNow)
        m_downloads.StartItemDownload(FieldText(record.Url));
    else
        m_selection.RefreshItemList();
}

void MainCommands::DetectFlashfromUrlExecute()
{
    detect(DetectSource::WebPage);
}

void MainCommands::DetectFlashfromCacheExecute()
{
    detect(DetectSource::Cache);
}

void MainCommands::DetectFlashfromTabExecute()
{
    detect(DetectSource::BrowserTab);
}

void MainCommands::detect(DetectSource source)
{
    const ArchiveAccess archive = WebArchiveOf(LoadVaultSettings(m_app.dataFolder()));
    const DetectServices services{m_catalogue,
                                  m_prompt,
                                  m_browser.address,
                                  [this] {
                                      return CacheEnumerator::DiscoverCaches(
                                          CacheEnumerator::ProfileFolders(m_app.dataFolder()));
                                  },
                                  &m_movies,
                                  m_browser.tabMovies,
                                  archive.address,
                                  m_app.settings().lookInArchive,
                                  archive.paceMs};
    QStringList movies;
    QStringList categories;
    if (!ShowDetectDialog(source, movies, categories, services, m_selection.dialogOwner()))
        return;
    for (qsizetype i = 0; i < movies.size(); ++i) {
        if (m_catalogue.AddItemFromUrl(movies[i], categories.value(i)) >= 0)
            m_downloads.StartItemDownload(movies[i]);
    }
}

QStringList MainCommands::manualCandidates()
{
    const QString program = QCoreApplication::applicationDirPath();
    return {QDir(program).filePath(QStringLiteral("manual.html")),
            QDir(program).filePath(QStringLiteral("../share/doc/clipvault/manual.html"))};
}

void MainCommands::HelpManualExecute()
{
    QString manual = LoadVaultSettings(m_app.dataFolder()).helpPath;
    for (const QString& candidate : manualCandidates()) {
        if (manual.isEmpty() && QFileInfo(candidate).isFile())
            manual = QDir::cleanPath(candidate);
    }
    if (manual.isEmpty()) {
        emit statusMessage(QStringLiteral("No help manual is installed."));
        return;
    }
    const auto failed = [this, manual](const QString& why) {
        m_prompt.inform(
            QStringLiteral("The help manual %1 could not be opened:\n%2").arg(manual, why),
            QStringLiteral("Information"));
    };
    if (!m_desktop.open(manual, this, failed))
        emit statusMessage(QStringLiteral("The help manual %1 could not be opened.").arg(manual));
}

void MainCommands::ShowAboutExecute()
{
    TAboutBox about(m_selection.dialogOwner());
    about.exec();
}

void MainCommands::StartDownActionExecute()
{
    const int index = selectedItem();
    if (index >= 0)
        m_downloads.StartItemDownload(FieldText(m_catalogue.item(index).Url));
}

void MainCommands::ImportMoviesExecute()
{
    TImportMovies dialog(m_catalogue, m_selection.selectedNodeText(), m_dialogs,
                         m_selection.dialogOwner());
    if (dialog.exec() == QDialog::Accepted)
        importMovies(dialog.request());
}

void MainCommands::importDropped(const QStringList& paths)
{
    for (const QString& path : paths)
        importMovies({path, m_selection.selectedNodeText(), false});
}

void MainCommands::importMovies(const ImportRequest& request)
{
    ImportRequest filed = request;
    // The download's own lists take no imported movie.
    if (filed.category == QLatin1String(builtin::Downloading) ||
        filed.category == QLatin1String(builtin::Deleted) ||
        m_catalogue.FindCategory(filed.category) < 0)
        filed.category = QString::fromLatin1(builtin::Downloaded);
    emit statusMessage(QStringLiteral("Importing %1…").arg(QDir::toNativeSeparators(filed.source)));
    m_app.imports().start(filed, [this](const ImportSummary& summary) {
        const QString from = QDir::toNativeSeparators(summary.source);
        m_prompt.inform(QStringLiteral("Imported from %1: %2").arg(from, summary.text(10)),
                        QStringLiteral("Information"));
    });
}

void MainCommands::UpdateItemPropertyExecute()
{
    const int index = selectedItem();
    if (index < 0 || m_selection.selectedNodeText().isNull())
        return;
    // The dialog edits a copy that replaces the record on OK: the user interface stays live while
    // it is open, and a download may settle the item meanwhile.
    const QString url = FieldText(m_catalogue.item(index).Url);
    ItemRecord record = m_catalogue.item(index);
    if (!ShowAddTaskDialog(record, m_catalogue, m_app.settings().keepFiles,
                           m_selection.dialogOwner()))
        return;
    const int now = m_catalogue.FindItemByUrl(url);
    if (now < 0)
        return;
    record.State = static_cast<char>(m_catalogue.itemState(now));
    // What a download learnt meanwhile stays; the dialog changes only the choice to keep files.
    ItemExtras extras = m_catalogue.item(now).extras;
    extras.keepFiles = record.extras.keepFiles;
    record.extras = extras;
    m_catalogue.updateItem(now, record);
    m_selection.RefreshItemList();
}

void MainCommands::AddCategoryActionExecute()
{
    CategoryRecord record = EmptyCategoryRecord();
    if (!ShowCategoryDialog(record, m_catalogue, m_dialogs, m_selection.dialogOwner()))
        return;
    m_catalogue.AddCategory(record);
}

void MainCommands::DeleteCategoryActionExecute()
{
    const QString node = m_selection.selectedNodeText();
    if (node.isNull())
        return;
    m_catalogue.RemoveCategory(node.trimmed());
}

void MainCommands::UpdateCatPropertyExecute()
{
    const QString node = m_selection.selectedNodeText();
    if (node.isNull())
        return;
    const int index = m_catalogue.FindCategory(node.trimmed());
    if (index < 0)
        return;
    CategoryRecord record = m_catalogue.category(index);
    if (!ShowCategoryDialog(record, m_catalogue, m_dialogs, m_selection.dialogOwner()))
        return;
    const int now = m_catalogue.FindCategory(node.trimmed());
    if (now >= 0)
        m_catalogue.updateCategory(now, record);
}

void MainCommands::deleteRows(const QStringList& urls)
{
    if (m_selection.selectedNodeText() == QLatin1String(builtin::Deleted)) {
        m_catalogue.RemoveItemsByUrl(urls);
    } else {
        for (const QString& url : urls) {
            const int index = m_catalogue.FindItemByUrl(url.trimmed());
            if (index >= 0)
                m_catalogue.SetItemState(index, ItemState::Deleted);
        }
    }
    // Files on disk are never touched.
    m_selection.RefreshItemList();
}

void MainCommands::DeleteFlashItemActionExecute()
{
    deleteRows(m_selection.selectedItemUrls());
}

void MainCommands::ClearFlashItemActionExecute()
{
    deleteRows(m_selection.listedItemUrls());
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
    if (index < 0 || m_selection.selectedNodeText() == QLatin1String(builtin::Downloading))
        return;
    const QString file = ItemFilePath(m_catalogue.item(index));
    if (!QFileInfo(file).isFile())
        return;
    // Without a movie player of the desktop's, the desktop would hand the file to whatever
    // takes any file (a browser that offers to save it): ours plays it.
    findOtherMoviePlayer(0, [this, file](bool found) {
        if (found)
            m_desktop.open(file);
        else
            ShowFlashPreview(file, m_movies, m_dialogs, m_selection.dialogOwner());
    });
}

void MainCommands::ExportItemExecute()
{
    const int index = selectedItem();
    if (index < 0)
        return;
    const ItemRecord& item = m_catalogue.item(index);
    ExportSource source;
    source.movieUrl = FieldText(item.Url);
    source.movieFile = ItemFilePath(item);
    if (item.state() != ItemState::Downloaded || !QFileInfo(source.movieFile).isFile()) {
        m_prompt.inform(QStringLiteral("Only a downloaded movie can be exported: ") +
                            source.movieUrl,
                        QStringLiteral("Information"));
        return;
    }
    source.keptRoot = KeptRootFor(source.movieFile);
    source.title = QFileInfo(source.movieFile).completeBaseName();
    source.category = FieldText(item.Category);
    // The snapshot is taken before the dialog covers the preview.
    const QImage frame = m_selection.previewFrameOf(source.movieFile);
    const FileDialogs::ExportTarget target =
        m_dialogs.chooseExportTarget(m_selection.dialogOwner(), source.title);
    if (target.path.isEmpty())
        return;
    // The movie's picture when it is drawn; else what the preview shows.
    QByteArray png = CachedPicture(item.extras.sha256);
    if (png.isEmpty() && !frame.isNull()) {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        frame.save(&buffer, "PNG");
    }
    const ExportResult result = target.curation ? ExportCuration(source, target.path, png)
                                                : ExportRuffleBundle(source, target.path);
    QString message =
        result.ok() ? QDir::toNativeSeparators(target.path) + QStringLiteral(" export complete!")
                    : result.error;
    for (const QString& note : result.notes)
        message += u'\n' + note;
    m_prompt.inform(message, QStringLiteral("Information"));
}

void MainCommands::findOtherMoviePlayer(int typeIndex, std::function<void(bool found)> done)
{
    static const char* const kMovieTypes[] = {"application/x-shockwave-flash",
                                              "application/vnd.adobe.flash.movie"};
    if (typeIndex >= int(std::size(kMovieTypes))) {
        done(false);
        return;
    }
    m_desktop.defaultApplication(QLatin1String(kMovieTypes[typeIndex]), this,
                                 [this, typeIndex, done = std::move(done)](const QString& program) {
                                     const QString ours =
                                         QStringLiteral(CLIPVAULT_APP_ID ".desktop");
                                     if (!program.isEmpty() && program != ours)
                                         done(true);
                                     else
                                         findOtherMoviePlayer(typeIndex + 1, done);
                                 });
}

void MainCommands::SimpleFlashPlayer1Click()
{
    // The root folder: the window opens with an empty player.
    ShowFlashPreview(QStringLiteral("/"), m_movies, m_dialogs, m_selection.dialogOwner());
}

QList<MainCommands::BrowserChoice> MainCommands::browserCandidates()
{
    const auto chromium = [](const char* program) {
        return BrowserChoice{QLatin1String(program), BrowserKind::Chromium};
    };
    return {chromium("chromium"),
            chromium("chromium-browser"),
            chromium("google-chrome"),
            chromium("google-chrome-stable"),
            chromium("brave-browser"),
            chromium("microsoft-edge"),
            {QStringLiteral("firefox-esr"), BrowserKind::Firefox},
            {QStringLiteral("firefox"), BrowserKind::Firefox}};
}

void MainCommands::OpenBrowserExecute()
{
    // The browsers installed, each once (firefox is often firefox-esr by another name).
    QList<BrowserChoice> installed;
    QStringList names;
    for (const BrowserChoice& candidate : browserCandidates()) {
        const QString program = QStandardPaths::findExecutable(candidate.program);
        const QString name = QFileInfo(program).canonicalFilePath();
        if (program.isEmpty() || names.contains(name))
            continue;
        names << name;
        installed.append({program, candidate.kind});
    }
    if (installed.isEmpty()) {
        m_prompt.inform(QStringLiteral("No browser Clip Vault can work with (Chromium, Chrome, "
                                       "Brave, Edge or Firefox) is installed."),
                        QStringLiteral("Information"));
        return;
    }
    int chosen = 0;
    if (installed.size() > 1) {
        QStringList offered;
        for (const BrowserChoice& browser : installed)
            offered << QFileInfo(browser.program).fileName();
        bool ok = false;
        const QString choice = QInputDialog::getItem(
            m_selection.dialogOwner(), QStringLiteral("Open a browser"),
            QStringLiteral("The browser to open for Clip Vault:"), offered, 0, false, &ok);
        if (!ok)
            return;
        chosen = static_cast<int>(offered.indexOf(choice));
    }
    startBrowser(installed.value(chosen));
}

void MainCommands::ConnectBrowserExecute()
{
    TConnectBrowser dialog(m_browser.companions ? m_browser.companions() : QStringList(),
                           m_app.dataFolder(), m_selection.dialogOwner());
    dialog.exec();
}

void MainCommands::startBrowser(const BrowserChoice& browser)
{
    // A profile of its own: browsers refuse a debugging port on the user's everyday one.
    const bool firefox = browser.kind == BrowserKind::Firefox;
    const QString profile =
        QDir(m_app.dataFolder())
            .filePath(QLatin1String(firefox ? kFirefoxProfileFolder : kChromiumProfileFolder));
    QDir().mkpath(profile);
    const QStringList arguments =
        firefox ? QStringList{QStringLiteral("--remote-debugging-port"), QStringLiteral("0"),
                              QStringLiteral("--profile"), profile, QStringLiteral("--no-remote")}
                : QStringList{QStringLiteral("--remote-debugging-port=0"),
                              QStringLiteral("--user-data-dir=") + profile};
    const auto endedAtOnce = [this, program = browser.program](const QString& why) {
        m_prompt.inform(QStringLiteral("%1 ended at once:\n%2").arg(program, why),
                        QStringLiteral("Information"));
    };
    if (!m_desktop.startDetached(browser.program, arguments, this, endedAtOnce))
        m_prompt.inform(QStringLiteral("%1 could not be started.").arg(browser.program),
                        QStringLiteral("Information"));
}
