#pragma once

#include "httpget.h"
#include "keptfiles.h"
#include "webarchive.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <array>
#include <atomic>
#include <deque>
#include <memory>
#include <functional>

/// Fetches the files one movie loads into its kept-files folder, a few at a time, through the
/// program's download component (its time-outs, proxy and partial-file rule), and records each
/// in the folder's manifest. A file kept already is not fetched again. It keeps within the
/// bounds (kMaxKeptFiles, kMaxKeptBytes), fetches only what MayFetchFor allows, and checks that
/// a ".swf" is a movie. A kept movie's own named files are kept too when `followNamedFiles` is
/// set, so that a loader's game brings its levels.
class FileKeeper final : public QObject
{
    Q_OBJECT
public:
    FileKeeper(const QString& folder, const QUrl& movieUrl, QObject* parent = nullptr);
    /// Writes what the manifest does not hold yet.
    ~FileKeeper() override;
    Q_DISABLE_COPY_MOVE(FileKeeper)

    void setFollowNamedFiles(bool follow) { m_follow = follow; }
    /// A file whose address is gone is then taken from the web archive's newest capture.
    void setArchive(const ArchiveAccess& archive) { m_archive = archive; }

    /// What a request for a file came to: the kept file, or nothing with the reason.
    using Done = std::function<void(const KeptFile* kept, const QString& error)>;
    /// Keeps the file at `address` (resolved already). `done`, when given, hears later on this
    /// thread, always.
    void keep(const QUrl& address, Done done = {});
    /// Records a file fetched already, at its place for `address`, in the manifest (written
    /// when the keeper is next idle, or goes).
    bool noteKept(const QUrl& address, QString* error = nullptr);
    /// Keeps every file a movie's code names, resolved against the movie's address.
    void keepNamedFiles(const QString& movieFile, const QUrl& movieAddress);

    bool isIdle() const { return m_running == 0 && m_queue.empty(); }
    /// Transfers at once: a site is asked for a few files together, never more.
    static constexpr int kParallel = 6;
    QString folder() const { return m_folder; }
    const KeptManifest& manifest() const { return m_manifest; }
    /// Files kept by this keeper (not those the folder held before).
    int newlyKept() const { return m_newlyKept; }
    /// Addresses of the files this keeper kept or found kept already.
    const QSet<QString>& keptUrls() const { return m_keptUrls; }
    /// Addresses asked for that could not be kept, with why.
    const QStringList& failures() const { return m_failures; }
    /// Writes what the manifest does not hold yet, now: a run about to end by a signal leaves
    /// every file it finished listed.
    void writeManifest();
    /// Why the manifest could not be written the last time it was, or empty.
    QString manifestError() const { return m_manifestError; }

signals:
    void fileKept(const KeptFile& file);
    /// Nothing is waiting or running any more.
    void idle();

private:
    struct Request
    {
        QUrl address;
        Done done;
    };
    /// One transfer place: its component and the request it serves.
    struct Slot
    {
        THTTPGet get;
        Request request;
        QString path;
        bool busy = false;
        bool succeeded = false;
    };
    void scheduleStart();
    void startNext();
    void start(Slot& slot, Request request, const QString& path);
    void finishRunning(Slot& slot, const KeptFile* kept, const QString& error);
    /// Records the slot's file, in place now, in the manifest and finishes it.
    void keepRunning(Slot& slot);
    /// The slot's address is gone: the archive's copy is asked for off this thread.
    void askArchive(Slot& slot);
    QString refusal(const QUrl& address, const std::optional<QString>& path) const;

    QString m_folder;
    QUrl m_movieUrl;
    KeptManifest m_manifest;
    /// What the kept files may still take, shared by the transfers under way: parallel
    /// transfers together never pass kMaxKeptBytes.
    std::shared_ptr<std::atomic<long long>> m_room;
    QString m_manifestError;
    std::array<std::unique_ptr<Slot>, kParallel> m_slots;
    std::deque<Request> m_queue;
    QSet<QString> m_asked; ///< addresses queued or handled, to ask each once
    int m_running = 0;     ///< slots busy
    bool m_startPending = false;
    bool m_follow = false;
    bool m_manifestDirty = false;
    ArchiveAccess m_archive;
    int m_newlyKept = 0;
    QStringList m_failures;
    QSet<QString> m_keptUrls;
};
