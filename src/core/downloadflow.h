#pragma once

#include "httpget.h"
#include "webarchive.h"

#include <QObject>
#include <QStringList>
#include <QString>

#include <deque>
#include <functional>
#include <vector>

class Catalogue;
class FileKeeper;
class UserPrompt;
struct OptionsRecord;

/// Downloads catalogued items to their files, one at a time, and settles their states: "N" while
/// a transfer runs, then "D" when the file is in place or "F" when it failed. A download asked
/// for while another runs waits in a queue, first in, first out; the next one starts when the
/// running one ends, so nothing here ever waits on the caller's thread. Items are found again by
/// URL after every transfer, since the user may delete them meanwhile.
class DownloadFlow final : public QObject
{
    Q_OBJECT
public:
    DownloadFlow(Catalogue& catalogue, const OptionsRecord& options, UserPrompt& prompt,
                 QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(DownloadFlow)

    /// Downloads the catalogued item of address `url`: at once when nothing runs, else after the
    /// downloads asked for before it. An item that is running or waiting already is not queued
    /// a second time; an address the catalogue does not hold is no download, nor is a file://
    /// address (settleLocalItem).
    void StartItemDownload(const QString& url);

    /// Another copy of a movie whose site did not give it: its bytes and where they came from
    /// ("the browser's copy"); no bytes when there is none. A copy that comes in pieces is put
    /// at the download's file by the fallback itself, as a download puts it (`written`).
    struct FallbackCopy
    {
        QByteArray body;
        QString from;
        bool written = false;
        QString absentNote = {};  ///< with no body: what the failure adds
        QString capture = {};     ///< the web archive's capture the body came from, if it did
        QString captureTime = {}; ///< its timestamp
    };
    /// Asks a place other than the site for a movie that goes to the file `target`; `use` hears
    /// it later on the flow's thread, always (empty when there is none), unless `context` is
    /// gone by then.
    using Fallback = std::function<void(const QString& url, const QString& target, QObject* context,
                                        std::function<void(const FallbackCopy& copy)> use)>;
    /// Adds a place to ask, after those added before, when a download fails; the first copy
    /// that begins as a Flash movie does is saved as the download would have been, and the
    /// message says where it came from.
    /// A fallback asked only when the address no longer gives the movie (THTTPGet::addressGone)
    /// is added with `onlyWhenGone`.
    void addFallback(Fallback fallback, bool onlyWhenGone = false);

    /// Whether a movie's files are kept with it when its item does not say.
    void setKeepFilesByDefault(bool keep) { m_keepFilesByDefault = keep; }
    /// Where a kept file whose address is gone is looked for (none: nowhere).
    void setArchive(const ArchiveAccess& archive) { m_archive = archive; }

    /// Whether a transfer runs (more may wait behind it).
    bool isBusy() const { return !m_runningUrl.isEmpty(); }
    int queuedCount() const { return static_cast<int>(m_queue.size()); }

signals:
    /// Progress of the running download: the file's name, its announced size (0 when unknown)
    /// and the bytes received.
    void progress(const QString& fileName, qint64 totalSize, qint64 received);
    /// The queue ran dry: no download runs any more.
    void finished();

private:
    bool isRunningOrQueued(const QString& url) const;
    /// An item of a file:// address: downloaded when its file is there, failed otherwise.
    void settleLocalItem(int index);
    /// Starts the next queued download whose folder can be made; false when none is left.
    bool startNext();
    bool startOne(const QString& url);
    void HTTPGetDoneFile(const QString& fileName, qint64 fileSize);
    void HTTPGetError();
    /// The component is idle: asks the next fallback of a failed download, or settles.
    void transferEnded();
    void tryFallback(const Fallback& fallback);
    /// Where the saved copy came from, for the item (empty: from its site).
    void noteArchivedCopy(const FallbackCopy& copy);
    /// The movie is in place: notes its content, keeps the files it names when its item asks
    /// for that, then settles.
    void movieSaved();
    void keepingEnded();
    /// Settles the item, starts the next download, then tells the user.
    void settle();
    /// Stores how the transfer of the item at `index` ended: its state and any failure's reason.
    void noteOutcome(int index);

    Catalogue& m_catalogue;
    const OptionsRecord& m_options;
    UserPrompt& m_prompt;
    THTTPGet m_httpGet;
    std::deque<QString> m_queue;
    QString m_runningUrl;  ///< empty while idle
    QString m_runningName; ///< the file name shown with the progress
    QString m_runningTarget;
    struct Place
    {
        Fallback ask;
        bool onlyWhenGone = false;
    };
    std::vector<Place> m_fallbacks;
    QStringList m_absentNotes; ///< what the fallbacks that had nothing said
    QByteArray m_savedSha256;  ///< of the file the transfer wrote
    std::size_t m_fallbacksTried = 0;
    bool m_lastSucceeded = false;
    bool m_keepFilesByDefault = true;
    ArchiveAccess m_archive;
    FileKeeper* m_keeper = nullptr; ///< keeps the running movie's files, while it does
    QString m_resultMessage;        ///< what to tell the user about the transfer that just ended
    QString m_failure;              ///< why the running transfer failed, empty while it has not
};

/// The message of a failed download: "<url> download failed!", and why on a second line.
QString FailureMessage(const QString& url, const QString& reason);
