#pragma once

#include "httpget.h"

#include <QObject>
#include <QString>

#include <deque>
#include <mutex>

class Catalogue;
class UserPrompt;
struct OptionsRecord;

/// Downloads catalogued items to their files, one at a time, and settles their states: "N" while
/// a transfer runs, then "D" when the file is in place or "F" when it failed. A download asked
/// for while another runs waits in a queue, first in, first out. Items are found again by URL
/// after every transfer, since the user may delete them meanwhile.
class DownloadFlow final : public QObject
{
    Q_OBJECT
public:
    DownloadFlow(Catalogue& catalogue, const OptionsRecord& options, UserPrompt& prompt,
                 QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(DownloadFlow)

    /// The download component, for settings such as time-outs.
    THTTPGet& HTTPGet() { return m_httpGet; }

    /// Downloads the item at `index`. Returns when it and every download queued meanwhile have
    /// ended, the user interface staying live; while a download runs it only queues the item.
    void StartItemDownload(int index);

    bool isBusy() const;
    int queuedCount() const { return static_cast<int>(m_queue.size()); }

signals:
    /// Progress of the running download: the file's name, its announced size (0 when unknown)
    /// and the bytes received.
    void progress(const QString& fileName, qint64 totalSize, qint64 received);
    /// No download runs any more.
    void finished();

private:
    void downloadOne(const QString& url);
    void HTTPGetDoneFile(const QString& fileName, qint64 fileSize);
    void HTTPGetError();
    void SetDownloadBusy(bool busy);

    Catalogue& m_catalogue;
    const OptionsRecord& m_options;
    UserPrompt& m_prompt;
    THTTPGet m_httpGet;
    std::deque<QString> m_queue;
    mutable std::mutex m_busyLock;
    bool m_downloadBusy = false;
    bool m_lastSucceeded = false;
    QString m_runningName;
};
