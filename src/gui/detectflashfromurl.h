#pragma once

#include "browsersession.h"
#include "detectionjob.h"
#include "webarchive.h"

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class TDetectFlashFromUrl;
}
class Catalogue;
class DetectionRowModel;
class FlashPlayer;
class MovieServer;
class QMenu;
class UserPrompt;

/// What the detection dialog uses of the program.
struct DetectServices
{
    const Catalogue& catalogue;          ///< the categories the rows may be filed under
    UserPrompt& prompt;                  ///< the "give up?" question and the error box
    BrowserAddressSource browserAddress; ///< none: no browser to ask
    DetectionJob::CacheSource caches;    ///< where the browser caches are
    MovieServer* server = nullptr;       ///< feeds the preview player; none: no preview
    TabMoviesSource tabMovies = {};      ///< none: the tab's movies are not asked for
    QString archiveAddress = {};         ///< the web archive; empty: none to ask
    bool archiveForDeadPages = false;    ///< a page that no longer answers is looked up there
    int archivePaceMs = 2500;            ///< spacing of its requests
};

/// Where the detection dialog looks for movies.
enum class DetectSource
{
    WebPage,    ///< a page and its frames, then the site's cached movies
    Cache,      ///< the browser caches
    BrowserTab, ///< what the browser's visible tab holds and fetched
    WebArchive  ///< the movies the web archive holds under an address or folder
};

/// The detection dialog: the Flash movies of a web page and its frames, or of the browser's
/// cache, listed for the user to check, file under categories and save. Detection runs off the
/// user-interface thread; "Close" cancels it at once.
class TDetectFlashFromUrl final : public QDialog
{
    Q_OBJECT
public:
    explicit TDetectFlashFromUrl(DetectServices services, QWidget* parent = nullptr);
    ~TDetectFlashFromUrl() override;

    /// Set before the dialog is shown.
    void setSource(DetectSource source) { m_source = source; }
    /// Set before the dialog is shown: false lists a web page, true the browser's cache.
    void setCacheMode(bool cacheMode)
    {
        m_source = cacheMode ? DetectSource::Cache : DetectSource::WebPage;
    }
    bool isAdvancedMode() const { return m_advancedMode; }

    /// The checked rows in list order: their addresses, and their categories (empty for none).
    void CollectCheckedItems(QStringList& movies, QStringList& categories) const;

    DetectionRowModel& rows() const { return *m_rows; }
    bool isDetecting() const { return m_job.isRunning(); }

    void btnCheckUrlClick();
    void btnDetectClick();
    void Button1Click();
    void BitBtn1Click();
    void CheckupseletedItems1Click();
    void ReverseinseletedItems1Click();
    void ReverseinseletedItems2Click();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void FillCategoryBox();
    void FormShow();
    void DetectFromWebPage();
    void DetectFromCache();
    void DetectFromBrowserTab();
    /// Lists the archive's movies on a worker thread; Close cancels it at once.
    void DetectFromWebArchive();
    void archiveListed(const QList<ArchiveCapture>& movies, const QString& cutShort);
    /// The outcome of the web archive's listing, once it has ended.
    void archiveListingFinished(const QString& error);
    void PreviewRow(int row);
    void lvflashitemslistClick();
    void lvflashitemslistDblClick();
    void cmbcatSelect(int index);
    void addMovies(const QStringList& addresses);
    /// Asks the browser for its address without waiting; `use` hears it on this thread.
    void askBrowserAddress(std::function<void(const QString&)> use);
    /// Each column as wide as its widest text among the first rows and its caption.
    void fitColumns();
    static constexpr int kMeasuredRows = 200;
    QTimer m_fitColumns;
    QString m_limitNotice; ///< of the detection running, until it has finished
    void detectionFinished(const QString& error);
    void setStatus(const QString& text);
    void setBusy(bool busy);
    int selectedRow() const;
    QList<int> selectedRows() const;
    QStringList listedAddresses() const;

    std::unique_ptr<Ui::TDetectFlashFromUrl> m_ui;
    DetectServices m_services;
    DetectionRowModel* m_rows;
    QMenu* m_popup;
    FlashPlayer* m_player = nullptr;
    DetectionJob m_job;
    DetectSource m_source = DetectSource::WebPage;
    bool m_advancedMode = false;
    bool m_allHosts = false;
    bool m_checkToggle = false;
    bool m_shown = false;
    bool m_previewAfterDetection = false;
    /// While the web archive's listing runs: how many movies it gave and why it stopped early.
    struct ArchiveListing
    {
        qsizetype movies = 0;
        QString cutShort;
    };
    std::optional<ArchiveListing> m_archiveListing;
};

/// Shows the dialog modally in the mode given. On OK the checked rows' addresses replace
/// `movies` and their categories are appended to `categories`; returns whether OK was pressed.
bool ShowDetectDialog(DetectSource source, QStringList& movies, QStringList& categories,
                      const DetectServices& services, QWidget* parent = nullptr);
