#include "detectflashfromurl.h"

#include "ui_detectflashfromurl.h"

#include "catalogue.h"
#include "detectionrowmodel.h"
#include "flashplayer.h"
#include "pagedetection.h"
#include "userprompt.h"

#include <QCoreApplication>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QStyle>

namespace {

// Client heights: the lower panel hidden and shown.
constexpr int kClientWidth = 459;
constexpr int kCollapsedHeight = 367;
constexpr int kAdvancedHeight = 517;

} // namespace

TDetectFlashFromUrl::TDetectFlashFromUrl(DetectServices services, QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TDetectFlashFromUrl>())
    , m_services(std::move(services))
    , m_rows(new DetectionRowModel(this))
    , m_popup(new QMenu(this))
    , m_job(m_services.caches)
{
    m_ui->setupUi(this);
    setFixedSize(kClientWidth, kCollapsedHeight);
    m_ui->Img_url->setPixmap(style()->standardIcon(QStyle::SP_DriveNetIcon).pixmap(32, 32));
    m_ui->Img_cache->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(32, 32));
    QTreeView* list = m_ui->lvflashitemslist;
    list->setModel(m_rows);
    list->setColumnWidth(DetectionRowModel::Address, 200);
    list->setColumnWidth(DetectionRowModel::SaveAs, 100);
    list->setColumnWidth(DetectionRowModel::Category, 80);
    // The columns follow their text (a horizontal scroll bar shows the rest of a long address);
    // measuring a sample of the rows keeps this quick for a hundred thousand of them.
    list->header()->setResizeContentsPrecision(kMeasuredRows);
    list->header()->setStretchLastSection(false);
    m_fitColumns.setSingleShot(true);
    m_fitColumns.setInterval(0); // once for a whole batch of rows or changes
    connect(&m_fitColumns, &QTimer::timeout, this, &TDetectFlashFromUrl::fitColumns);
    connect(m_rows, &QAbstractItemModel::rowsInserted, &m_fitColumns, qOverload<>(&QTimer::start));
    connect(m_rows, &QAbstractItemModel::modelReset, &m_fitColumns, qOverload<>(&QTimer::start));
    connect(m_rows, &QAbstractItemModel::dataChanged, &m_fitColumns, qOverload<>(&QTimer::start));

    const auto addEntry = [this](const char* name, const char* caption, Qt::Key key,
                                 void (TDetectFlashFromUrl::*slot)()) {
        auto* entry = new QAction(QString::fromLatin1(caption), this);
        entry->setObjectName(QLatin1String(name));
        entry->setShortcut(key);
        entry->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(entry, &QAction::triggered, this, slot);
        m_popup->addAction(entry);
        m_ui->lvflashitemslist->addAction(entry);
    };
    addEntry("CheckupseletedItems1", "Check/Uncheck seleted Items", Qt::Key_F4,
             &TDetectFlashFromUrl::CheckupseletedItems1Click);
    addEntry("ReverseinseletedItems1", "Reverse in seleted Items", Qt::Key_F5,
             &TDetectFlashFromUrl::ReverseinseletedItems1Click);
    addEntry("ReverseinseletedItems2", "Reverse in all Items", Qt::Key_F6,
             &TDetectFlashFromUrl::ReverseinseletedItems2Click);
    connect(list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        m_popup->popup(m_ui->lvflashitemslist->viewport()->mapToGlobal(at));
    });

    connect(m_ui->btnCheckUrl, &QToolButton::clicked, this, &TDetectFlashFromUrl::btnCheckUrlClick);
    connect(m_ui->btnDetect, &QPushButton::clicked, this, &TDetectFlashFromUrl::btnDetectClick);
    connect(m_ui->Button1, &QPushButton::clicked, this, &TDetectFlashFromUrl::Button1Click);
    connect(m_ui->BitBtn1, &QPushButton::clicked, this, &TDetectFlashFromUrl::BitBtn1Click);
    connect(m_ui->BitBtn2, &QPushButton::clicked, this, &TDetectFlashFromUrl::reject);
    connect(list, &QTreeView::clicked, this, &TDetectFlashFromUrl::lvflashitemslistClick);
    connect(list, &QTreeView::doubleClicked, this, &TDetectFlashFromUrl::lvflashitemslistDblClick);
    connect(m_ui->cmbcat, &QComboBox::activated, this, &TDetectFlashFromUrl::cmbcatSelect);
    connect(&m_job, &DetectionJob::moviesFound, this, &TDetectFlashFromUrl::addMovies);
    connect(&m_job, &DetectionJob::finished, this, &TDetectFlashFromUrl::detectionFinished);
    connect(&m_job, &DetectionJob::limitReached, this,
            [this](const QString& notice) { m_limitNotice = notice; });
    connect(&m_job, &DetectionJob::archiveCopyUsed, this,
            [this](const QString& notice) { m_limitNotice = notice; });
    connect(&m_job, &DetectionJob::status, this, &TDetectFlashFromUrl::setStatus);
    connect(&m_job, &DetectionJob::archiveListed, this, &TDetectFlashFromUrl::archiveListed);
    m_job.setWebArchive(m_services.archiveAddress, m_services.archivePaceMs,
                        m_services.archiveForDeadPages);
    FillCategoryBox();
}

TDetectFlashFromUrl::~TDetectFlashFromUrl() = default;

void TDetectFlashFromUrl::FillCategoryBox()
{
    QComboBox* box = m_ui->cmbcat;
    box->clear();
    int downloaded = -1;
    for (const CategoryRecord& category : m_services.catalogue.categories()) {
        const QString name = FieldText(category.Name);
        const QString key = name.trimmed().toLower();
        if (key == u"downloading" || key == u"deleted")
            continue;
        box->addItem(name);
        if (name.toLower() == u"downloaded")
            downloaded = box->count() - 1; // the last of several wins
    }
    box->setCurrentIndex(downloaded);
}

void TDetectFlashFromUrl::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TDetectFlashFromUrl::FormShow()
{
    const bool cacheMode = m_source == DetectSource::Cache;
    m_ui->Img_url->setVisible(!cacheMode);
    m_ui->lbl_url->setVisible(!cacheMode);
    m_ui->Img_cache->setVisible(cacheMode);
    m_ui->lbl_cache->setVisible(cacheMode);
    if (cacheMode) {
        m_ui->edtUrl->setText(QStringLiteral(" << Local Cache >>"));
        m_ui->edtUrl->setEnabled(false);
        m_ui->edtUrl->setGeometry(8, m_ui->edtUrl->y(), 372, m_ui->edtUrl->height());
        m_ui->btnCheckUrl->hide();
        setWindowTitle(QStringLiteral("Detect from cache"));
        return;
    }
    // TakeBrowserAddress: an empty page is no address worth showing, nor one the user has begun
    // to type over while the browser was asked.
    const QString before = m_ui->edtUrl->text();
    askBrowserAddress([this, before](const QString& address) {
        if (!address.isEmpty() && address != u"about:blank" && m_ui->edtUrl->text() == before) {
            m_ui->edtUrl->setText(address);
            m_ui->edtUrl->selectAll();
        }
    });
    m_ui->edtUrl->setFocus();
    m_ui->edtUrl->selectAll();
    if (m_source == DetectSource::WebArchive) {
        m_ui->lbl_url->setText(QStringLiteral("Address or folder of a site the web archive kept"));
        m_ui->btnCheckUrl->hide();
        setWindowTitle(QStringLiteral("Detect from the web archive"));
        return;
    }
    if (m_source == DetectSource::BrowserTab) {
        // The tab is what the browser shows: its address is shown, not typed.
        m_ui->lbl_url->setText(QStringLiteral("List all Flash movies the browser's tab holds"));
        m_ui->edtUrl->setReadOnly(true);
        m_ui->btnCheckUrl->hide();
        setWindowTitle(QStringLiteral("Detect from the browser tab"));
        return;
    }
    setWindowTitle(QStringLiteral("Detect from Webpage"));
}

void TDetectFlashFromUrl::btnCheckUrlClick()
{
    askBrowserAddress([this](const QString& address) { m_ui->edtUrl->setText(address); });
}

void TDetectFlashFromUrl::askBrowserAddress(std::function<void(const QString&)> use)
{
    // The browser may take seconds to answer, or never: the answer comes when it comes, and
    // not at all once the dialog has gone.
    if (m_services.browserAddress)
        m_services.browserAddress(this, std::move(use));
    else
        use({});
}

void TDetectFlashFromUrl::btnDetectClick()
{
    switch (m_source) {
    case DetectSource::Cache:
        DetectFromCache();
        break;
    case DetectSource::BrowserTab:
        DetectFromBrowserTab();
        break;
    case DetectSource::WebArchive:
        DetectFromWebArchive();
        break;
    case DetectSource::WebPage:
        DetectFromWebPage();
        break;
    }
}

void TDetectFlashFromUrl::DetectFromBrowserTab()
{
    m_rows->clear();
    if (!m_services.tabMovies) {
        setStatus(QStringLiteral("Failed: no browser to ask"));
        return;
    }
    setBusy(true);
    m_services.tabMovies(this, [this](const QList<TabMovie>& movies) {
        QStringList addresses;
        for (const TabMovie& movie : movies)
            addresses << movie.url;
        addMovies(addresses);
        m_ui->btnDetect->setEnabled(true);
        setStatus(movies.isEmpty() ? QStringLiteral("Finished: no Flash movie in the browser's tab")
                                   : QStringLiteral("Finished"));
    });
}

void TDetectFlashFromUrl::DetectFromWebArchive()
{
    const QString address = m_ui->edtUrl->text().trimmed();
    if (address.isEmpty() || m_job.isRunning())
        return;
    m_rows->clear();
    if (m_services.archiveAddress.isEmpty()) {
        setStatus(QStringLiteral("Failed: no web archive to ask"));
        return;
    }
    setBusy(true);
    m_archiveListing = ArchiveListing{};
    m_job.startWebArchive(address);
}

void TDetectFlashFromUrl::archiveListed(const QList<ArchiveCapture>& movies,
                                        const QString& cutShort)
{
    DetectionResults found;
    for (const ArchiveCapture& movie : movies)
        found.AddResultRow(movie.original);
    const int first = m_rows->rowCount();
    m_rows->appendFrom(found, 0);
    // Each row says when the archive last kept it; the row is filed under its original address.
    for (int i = 0; i < movies.size(); ++i)
        m_rows->setNote(first + i,
                        QStringLiteral("archived ") + CaptureDateText(movies[i].timestamp));
    if (m_archiveListing)
        *m_archiveListing = {movies.size(), cutShort};
}

void TDetectFlashFromUrl::archiveListingFinished(const QString& error)
{
    const ArchiveListing listing = *std::exchange(m_archiveListing, std::nullopt);
    m_ui->btnDetect->setEnabled(true);
    if (!error.isEmpty())
        setStatus(QStringLiteral("Failed: ") + error);
    else if (!listing.cutShort.isEmpty())
        setStatus(QStringLiteral("Stopped: %1 movies; ").arg(listing.movies) + listing.cutShort);
    else
        setStatus(
            listing.movies == 0
                ? QStringLiteral("Finished: the web archive holds no Flash movie there")
                : QStringLiteral("Finished: %1 movies in the web archive").arg(listing.movies));
}

void TDetectFlashFromUrl::setStatus(const QString& text)
{
    m_ui->statubar->setText(text);
    m_ui->statubar->setVisible(true);
}

void TDetectFlashFromUrl::setBusy(bool busy)
{
    m_ui->btnDetect->setEnabled(!busy);
    if (busy)
        setStatus(QStringLiteral(" Loading "));
}

void TDetectFlashFromUrl::DetectFromCache()
{
    // The list is kept: a second run adds only movies not listed yet.
    setBusy(true);
    m_allHosts = true;
    m_previewAfterDetection = false;
    m_job.startCache(listedAddresses());
}

void TDetectFlashFromUrl::DetectFromWebPage()
{
    const QString address = m_ui->edtUrl->text();
    if (IsDrivePath(address))
        return;
    m_rows->clear();
    if (IsMovieAddress(address)) {
        DetectionResults direct;
        direct.AddResultRow(address);
        m_rows->appendFrom(direct, 0);
        return;
    }
    setBusy(true);
    m_allHosts = false;
    m_previewAfterDetection = true;
    m_job.startWebPage(address, {});
}

void TDetectFlashFromUrl::fitColumns()
{
    QTreeView* list = m_ui->lvflashitemslist;
    for (int column = 0; column < m_rows->columnCount(); ++column)
        list->setColumnWidth(
            column, std::max(static_cast<QAbstractItemView*>(list)->sizeHintForColumn(column),
                             list->header()->sectionSizeHint(column)));
}

void TDetectFlashFromUrl::addMovies(const QStringList& addresses)
{
    DetectionResults found;
    found.AddResultRows(addresses);
    m_rows->appendFrom(found, 0);
}

void TDetectFlashFromUrl::detectionFinished(const QString& error)
{
    if (m_archiveListing)
        return archiveListingFinished(error);
    const QString notice = std::exchange(m_limitNotice, QString());
    m_ui->btnDetect->setEnabled(true);
    if (!error.isEmpty()) {
        setStatus(QStringLiteral("Failed"));
        if (isVisible())
            m_services.prompt.inform(error, windowTitle());
        return;
    }
    // A list that was cut says so where the user reads the outcome.
    setStatus(notice.isEmpty() ? QStringLiteral("Finished")
                               : QStringLiteral("Finished: ") + notice);
    if (m_previewAfterDetection && m_advancedMode && m_rows->rowCount() > 0)
        PreviewRow(0);
}

QStringList TDetectFlashFromUrl::listedAddresses() const
{
    QStringList addresses;
    for (const ResultRow& row : m_rows->rows())
        addresses << row.address;
    return addresses;
}

QList<int> TDetectFlashFromUrl::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : m_ui->lvflashitemslist->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int TDetectFlashFromUrl::selectedRow() const
{
    const QList<int> rows = selectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

void TDetectFlashFromUrl::PreviewRow(int row)
{
    if (!m_advancedMode || !m_services.server || row < 0 || row >= m_rows->rowCount())
        return;
    if (!m_player) {
        m_player = new FlashPlayer(*m_services.server, m_ui->flashplayer);
        m_ui->flashplayer->layout()->addWidget(m_player);
        m_player->start();
    }
    const QString address = m_rows->row(row).address;
    if (m_player->movie() == address)
        return;
    m_player->Stop();
    m_player->setMovie(address);
    m_player->Play();
}

void TDetectFlashFromUrl::lvflashitemslistClick()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    PreviewRow(row);
    m_ui->edtSaveas->setText(m_rows->row(row).saveAs);
    const QString category = m_rows->row(row).category;
    const int entry =
        m_ui->cmbcat->findText(category.isEmpty() ? QStringLiteral("Downloaded") : category);
    m_ui->cmbcat->setCurrentIndex(entry);
}

void TDetectFlashFromUrl::lvflashitemslistDblClick()
{
    if (const int row = selectedRow(); row >= 0)
        m_rows->setChecked(row, !m_rows->row(row).checked);
}

void TDetectFlashFromUrl::cmbcatSelect(int index)
{
    if (const int row = selectedRow(); row >= 0)
        m_rows->setCategory(row, m_ui->cmbcat->itemText(index));
}

void TDetectFlashFromUrl::CheckupseletedItems1Click()
{
    m_checkToggle = !m_checkToggle;
    for (const int row : selectedRows())
        m_rows->setChecked(row, m_checkToggle);
}

void TDetectFlashFromUrl::ReverseinseletedItems1Click()
{
    for (const int row : selectedRows())
        m_rows->setChecked(row, !m_rows->row(row).checked);
}

void TDetectFlashFromUrl::ReverseinseletedItems2Click()
{
    for (int row = 0; row < m_rows->rowCount(); ++row)
        m_rows->setChecked(row, !m_rows->row(row).checked);
}

void TDetectFlashFromUrl::Button1Click()
{
    m_advancedMode = !m_advancedMode;
    setFixedSize(kClientWidth, m_advancedMode ? kAdvancedHeight : kCollapsedHeight);
    m_ui->Button1->setText(m_advancedMode ? QStringLiteral("Advanced Mode <<")
                                          : QStringLiteral("Advanced Mode >>"));
}

void TDetectFlashFromUrl::BitBtn1Click()
{
    const bool anyChecked = std::any_of(m_rows->rows().begin(), m_rows->rows().end(),
                                        [](const ResultRow& row) { return row.checked; });
    if (!anyChecked && !m_services.prompt.ask(QStringLiteral("no item has been checked, give up?"),
                                              QStringLiteral("confirm")))
        return;
    m_job.cancel();
    accept();
}

void TDetectFlashFromUrl::reject()
{
    m_job.cancel(); // a running fetch ends at once
    QDialog::reject();
}

void TDetectFlashFromUrl::CollectCheckedItems(QStringList& movies, QStringList& categories) const
{
    movies.clear();
    for (const ResultRow& row : m_rows->rows()) {
        if (!row.checked)
            continue;
        movies << row.address;
        categories << row.category;
    }
}

bool ShowDetectDialog(DetectSource source, QStringList& movies, QStringList& categories,
                      const DetectServices& services, QWidget* parent)
{
    TDetectFlashFromUrl dialog(services, parent);
    dialog.setSource(source);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.CollectCheckedItems(movies, categories);
    return true;
}
