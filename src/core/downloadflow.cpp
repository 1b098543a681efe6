#include "downloadflow.h"

#include "urlresolve.h"

#include "atomicwrite.h"
#include "catalogue.h"
#include "filekeeper.h"
#include "filetransfer.h"
#include "options.h"
#include "userprompt.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

const QString kInformation = QStringLiteral("Information");

} // namespace

QString FailureMessage(const QString& url, const QString& reason)
{
    QString message = url + QStringLiteral(" download failed!");
    if (!reason.isEmpty())
        message += u'\n' + reason;
    return message;
}

DownloadFlow::DownloadFlow(Catalogue& catalogue, const OptionsRecord& options, UserPrompt& prompt,
                           QObject* parent)
    : QObject(parent)
    , m_catalogue(catalogue)
    , m_options(options)
    , m_prompt(prompt)
{
    m_httpGet.AcceptTypes = QStringLiteral("*/*");
    m_httpGet.BinaryData = true;
    m_httpGet.FlashMovieOnly = true;
    connect(&m_httpGet, &THTTPGet::OnDoneFile, this, &DownloadFlow::HTTPGetDoneFile);
    connect(&m_httpGet, &THTTPGet::OnError, this, &DownloadFlow::HTTPGetError);
    connect(&m_httpGet, &THTTPGet::idle, this, &DownloadFlow::transferEnded);
    connect(&m_httpGet, &THTTPGet::OnProgress, this,
            [this](qint64 total, qint64 read) { emit progress(m_runningName, total, read); });
}

bool DownloadFlow::isRunningOrQueued(const QString& url) const
{
    const QByteArray key = CatalogueKey(url);
    if (isBusy() && CatalogueKey(m_runningUrl) == key)
        return true;
    return std::any_of(m_queue.begin(), m_queue.end(),
                       [&](const QString& queued) { return CatalogueKey(queued) == key; });
}

void DownloadFlow::StartItemDownload(const QString& url)
{
    const int index = m_catalogue.FindItemByUrl(url);
    if (index < 0 || isRunningOrQueued(url))
        return;
    if (IsLocalAddress(url)) {
        settleLocalItem(index);
        return;
    }
    m_queue.push_back(url);
    if (!isBusy() && !startNext())
        emit finished();
}

void DownloadFlow::settleLocalItem(int index)
{
    // A file of this machine is where it lies, or gone: no site could give it again, and
    // asking one (or the web archive) would send its path out.
    ItemRecord item = m_catalogue.item(index);
    const QString file = ItemFilePath(item);
    const bool there = QFileInfo(file).isFile();
    item.State = static_cast<char>(there ? ItemState::Downloaded : ItemState::Failed);
    item.extras.failure =
        there ? QString()
              : QStringLiteral("the file %1 is not there, and a movie of this machine is never "
                               "downloaded")
                    .arg(QDir::toNativeSeparators(file));
    m_catalogue.updateItem(index, item);
    if (!there && m_options.NotifyTaskFailed)
        m_prompt.notify(FailureMessage(FieldText(item.Url), item.extras.failure), kInformation);
}

bool DownloadFlow::startNext()
{
    while (!m_queue.empty()) {
        const QString url = m_queue.front();
        m_queue.pop_front();
        if (startOne(url))
            return true;
    }
    return false;
}

bool DownloadFlow::startOne(const QString& url)
{
    const int index = m_catalogue.FindItemByUrl(url);
    if (index < 0)
        return false; // removed while it waited
    const ItemRecord& item = m_catalogue.item(index);
    const QString target = ItemFilePath(item);
    // The folder the file goes into, with every missing parent. A file standing in its path or a
    // folder the user may not write fails the item at once, saying which folder.
    const QString folder = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(folder)) {
        const QString reason =
            QStringLiteral("cannot create the folder ") + QDir::toNativeSeparators(folder);
        ItemRecord failed = item;
        failed.State = static_cast<char>(ItemState::Failed);
        failed.extras.failure = reason;
        m_catalogue.updateItem(index, failed);
        if (m_options.NotifyTaskFailed)
            m_prompt.notify(FailureMessage(url, reason), kInformation);
        return false;
    }

    m_runningUrl = url;
    m_runningTarget = target;
    m_runningName = FieldText(item.FileName);
    m_fallbacksTried = 0;
    m_absentNotes.clear();
    m_savedSha256.clear();
    m_lastSucceeded = false;
    m_failure.clear();
    m_resultMessage.clear();
    transfer::Request request = m_httpGet.request();
    SetWebAddress(request, url, target);
    request.useCache = true;
    request.sha256 = true; // taken on the worker as the file is written, never read again here
    m_catalogue.SetItemState(index, ItemState::New);
    m_httpGet.StartTransfer(request);
    return true;
}

void DownloadFlow::HTTPGetDoneFile(const QString& fileName, qint64)
{
    m_lastSucceeded = true;
    m_savedSha256 = m_httpGet.sha256();
    if (m_options.NotifyTaskFinished)
        m_resultMessage = fileName + QStringLiteral(" save complete!");
}

void DownloadFlow::HTTPGetError()
{
    m_failure = m_httpGet.errorString();
    if (m_options.NotifyTaskFailed)
        m_resultMessage = FailureMessage(m_runningUrl, m_httpGet.errorString());
}

void DownloadFlow::addFallback(Fallback fallback, bool onlyWhenGone)
{
    m_fallbacks.push_back({std::move(fallback), onlyWhenGone});
}

void DownloadFlow::transferEnded()
{
    while (!m_lastSucceeded && m_fallbacksTried < m_fallbacks.size()) {
        const Place& place = m_fallbacks[m_fallbacksTried++];
        if (place.onlyWhenGone && !m_httpGet.addressGone())
            continue;
        tryFallback(place.ask);
        return;
    }
    if (!m_lastSucceeded && !m_absentNotes.isEmpty()) {
        m_failure = m_httpGet.errorString() + QStringLiteral(", and ") +
                    m_absentNotes.join(QStringLiteral(", and "));
        if (m_options.NotifyTaskFailed)
            m_resultMessage = FailureMessage(m_runningUrl, m_failure);
    }
    if (m_lastSucceeded)
        movieSaved();
    else
        settle();
}

void DownloadFlow::movieSaved()
{
    const int index = m_catalogue.FindItemByUrl(m_runningUrl);
    if (index < 0)
        return settle();
    ItemRecord item = m_catalogue.item(index);
    // A copy from a fallback was written here, not by the transfer: it is small enough to read.
    item.extras.sha256 = m_savedSha256.isEmpty() ? FileSha256(m_runningTarget) : m_savedSha256;
    m_catalogue.updateItem(index, item);
    // The same content under another address: both stay, and the user hears of it.
    if (const int same = m_catalogue.FindItemWithSameContent(index);
        same >= 0 && !m_resultMessage.isEmpty())
        m_resultMessage +=
            QStringLiteral("\nIt is the same movie as ") + FieldText(m_catalogue.item(same).Url);
    if (!item.extras.keepFiles.value_or(m_keepFilesByDefault))
        return settle();
    m_keeper = new FileKeeper(KeptFolderOf(m_runningTarget), QUrl(m_runningUrl), this);
    m_keeper->setFollowNamedFiles(true);
    m_keeper->setArchive(m_archive);
    connect(m_keeper, &FileKeeper::idle, this, &DownloadFlow::keepingEnded);
    m_keeper->keepNamedFiles(m_runningTarget, QUrl(m_runningUrl));
    // A movie that names nothing left to fetch leaves the keeper idle at once: it signals nothing.
    if (m_keeper->isIdle())
        keepingEnded();
}

void DownloadFlow::keepingEnded()
{
    FileKeeper* keeper = std::exchange(m_keeper, nullptr);
    keeper->deleteLater();
    const int index = m_catalogue.FindItemByUrl(m_runningUrl);
    const int kept = static_cast<int>(keeper->manifest().files.size());
    if (index >= 0 && m_catalogue.item(index).extras.keptFiles != kept) {
        ItemRecord item = m_catalogue.item(index);
        item.extras.keptFiles = kept;
        m_catalogue.updateItem(index, item);
    }
    if (keeper->newlyKept() > 0 && !m_resultMessage.isEmpty())
        m_resultMessage += QStringLiteral("\nKept with it: %1 file(s) it loads").arg(kept);
    settle();
}

void DownloadFlow::tryFallback(const Fallback& fallback)
{
    // The site did not give the movie: another copy may. The item waits, as the queue does.
    fallback(m_runningUrl, m_runningTarget, this, [this](const FallbackCopy& copy) {
        QString error;
        // Replaced as a download replaces it: never written through a link standing there.
        if (copy.written || (BeginsAsFlashMovie(copy.body) &&
                             ReplaceFileWith(m_runningTarget, copy.body, &error))) {
            m_lastSucceeded = true;
            noteArchivedCopy(copy);
            m_resultMessage = m_options.NotifyTaskFinished
                                  ? m_runningTarget +
                                        QStringLiteral(" save complete! (the site did not give "
                                                       "it: saved from ") +
                                        copy.from + u')'
                                  : QString();
        } else if (!error.isEmpty()) {
            m_failure = error;
            if (m_options.NotifyTaskFailed)
                m_resultMessage = FailureMessage(m_runningUrl, m_failure);
        } else if (!copy.absentNote.isEmpty()) {
            m_absentNotes << copy.absentNote;
        }
        transferEnded();
    });
}

void DownloadFlow::noteArchivedCopy(const FallbackCopy& copy)
{
    const int index = m_catalogue.FindItemByUrl(m_runningUrl);
    if (index < 0)
        return;
    ItemRecord item = m_catalogue.item(index);
    item.extras.archivedFrom = copy.capture;
    item.extras.archivedAt = copy.captureTime;
    m_catalogue.updateItem(index, item);
}

void DownloadFlow::noteOutcome(int index)
{
    // The reason stays with the item, shown in its properties, whether or not a message said it.
    ItemRecord item = m_catalogue.item(index);
    item.State = static_cast<char>(m_lastSucceeded ? ItemState::Downloaded : ItemState::Failed);
    item.extras.failure = m_lastSucceeded ? QString() : m_failure;
    m_catalogue.updateItem(index, item);
}

void DownloadFlow::settle()
{
    const int index = m_catalogue.FindItemByUrl(m_runningUrl);
    if (index >= 0)
        noteOutcome(index);
    m_runningUrl.clear();
    const QString message = m_resultMessage;
    // The next transfer is under way before the user reads about this one.
    const bool more = startNext();
    if (!message.isEmpty())
        m_prompt.notify(message, kInformation);
    if (!more)
        emit finished();
}
