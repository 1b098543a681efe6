#include "downloadflow.h"

#include "catalogue.h"
#include "options.h"
#include "userprompt.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kInformation = QStringLiteral("Information");

} // namespace

DownloadFlow::DownloadFlow(Catalogue& catalogue, const OptionsRecord& options, UserPrompt& prompt,
                           QObject* parent)
    : QObject(parent)
    , m_catalogue(catalogue)
    , m_options(options)
    , m_prompt(prompt)
{
    m_httpGet.AcceptTypes = QStringLiteral("*/*");
    m_httpGet.BinaryData = true;
    m_httpGet.WaitThread = true;
    connect(&m_httpGet, &THTTPGet::OnDoneFile, this, &DownloadFlow::HTTPGetDoneFile);
    connect(&m_httpGet, &THTTPGet::OnError, this, &DownloadFlow::HTTPGetError);
    connect(&m_httpGet, &THTTPGet::OnProgress, this,
            [this](qint64 total, qint64 read) { emit progress(m_runningName, total, read); });
}

bool DownloadFlow::isBusy() const
{
    std::lock_guard lock(m_busyLock);
    return m_downloadBusy;
}

void DownloadFlow::SetDownloadBusy(bool busy)
{
    std::lock_guard lock(m_busyLock);
    m_downloadBusy = busy;
}

void DownloadFlow::StartItemDownload(int index)
{
    if (index < 0 || index >= m_catalogue.itemCount())
        return;
    const QString url = FieldText(m_catalogue.item(index).Url);
    if (isBusy()) {
        // The component runs one transfer at a time; this one follows the running one.
        const QByteArray key = CatalogueKey(url);
        for (const QString& queued : m_queue) {
            if (CatalogueKey(queued) == key)
                return;
        }
        m_queue.push_back(url);
        return;
    }
    SetDownloadBusy(true);
    downloadOne(url);
    while (!m_queue.empty()) {
        const QString next = m_queue.front();
        m_queue.pop_front();
        downloadOne(next);
    }
    SetDownloadBusy(false);
    m_catalogue.RefreshItemList();
    emit finished();
}

void DownloadFlow::downloadOne(const QString& url)
{
    const int index = m_catalogue.FindItemByUrl(url);
    if (index < 0)
        return; // removed while it waited
    const ItemRecord& item = m_catalogue.item(index);
    const QString target = ItemFilePath(item);
    // The folder the file goes into, with every missing parent; without it nothing starts and
    // the item keeps its state.
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return;

    m_catalogue.SetItemState(index, ItemState::New);
    m_httpGet.URL = FieldText(item.Url);
    m_httpGet.FileName = target;
    m_httpGet.UseCache = true;
    m_runningName = FieldText(item.FileName);
    m_lastSucceeded = false;
    m_catalogue.RefreshItemList();
    m_httpGet.StartTransfer(); // returns when the transfer has ended

    const int after = m_catalogue.FindItemByUrl(url);
    if (after >= 0 && m_lastSucceeded)
        m_catalogue.SetItemState(after, ItemState::Downloaded);
    m_catalogue.RefreshItemList();
}

void DownloadFlow::HTTPGetDoneFile(const QString& fileName, qint64)
{
    m_lastSucceeded = true;
    if (m_options.NotifyTaskFinished)
        m_prompt.inform(fileName + QStringLiteral(" save complete!"), kInformation);
}

void DownloadFlow::HTTPGetError()
{
    const int index = m_catalogue.FindItemByUrl(m_httpGet.URL);
    if (index >= 0)
        m_catalogue.SetItemState(index, ItemState::Failed);
    m_catalogue.RefreshItemList();
    if (m_options.NotifyTaskFailed)
        m_prompt.inform(m_httpGet.URL + QStringLiteral(" download failed!"), kInformation);
}
