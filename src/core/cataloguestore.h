#pragma once

#include "atomicwrite.h"
#include "companionfile.h"
#include "itemtable.h"

#include <array>
#include <functional>
#include <vector>

#include <QString>
#include <QStringList>

class Catalogue;

/// What loading one log found.
struct LogLoadResult
{
    bool existed = false;
    bool whole = true;    ///< false: header unreadable, count impossible, or file cut short
    qint64 announced = 0; ///< the record count the header announced
    int loaded = 0;       ///< records read and handed to the catalogue
    bool companionUnreadable = false; ///< its companion was damaged or for another log
    bool extrasUnreadable = false;    ///< likewise its side store
    bool valueRefused = false;        ///< a side file held a value over 2 MiB
};

/// The two log files of the catalogue in the data folder: "downloading.log" holds the items and
/// "category.log" the categories, each a 16-byte header (tag, one undefined byte, a signed
/// little-endian record count) followed by the records exactly as they are in memory. Beside
/// them: the companion of whole values (".long") and the items' side store (".meta").
///
/// A log that cannot be read whole loads what can be read; its original is copied aside as
/// "<name>.unreadable" before it is first overwritten, so nothing the user had is lost.
class CatalogueStore final
{
public:
    explicit CatalogueStore(const QString& dataFolder);

    /// Replaces the catalogue's items by the items log, each through AppendItem, announced as
    /// one reset. Without a log nothing happens.
    LogLoadResult LoadItems(Catalogue& catalogue);

    /// Replaces the catalogue's categories by the category log, each through AddCategory (the
    /// first-run categories when there is no log), then adds the built-in categories.
    LogLoadResult LoadCategories(Catalogue& catalogue);

    /// Write the logs atomically. On failure return false with the message for the user.
    bool SaveItems(const Catalogue& catalogue, QString* error = nullptr);
    bool SaveCategories(const Catalogue& catalogue, QString* error = nullptr);
    /// The same from what the lists held at one moment: a save on another thread takes them so.
    /// One save at a time.
    bool SaveItems(const ItemSnapshot& items, QString* error = nullptr);
    bool SaveCategories(const std::vector<CategoryRecord>& categories, QString* error = nullptr);

    /// A message for the user about the logs that could not be read whole, empty when both
    /// were fine. Meant to be shown once, after start-up.
    QString unreadableNotice() const;

    /// When another program changed a log since this program read or saved it, a save leaves
    /// that file as it is and writes the program's own view beside it, as
    /// "<log>.<date>.kept", and so does every later save. The message for the user the first
    /// such save left, once; empty otherwise.
    QString takeKeptNotice();

    /// What identifies the file at a path: a change by anyone else changes it.
    struct DiskState
    {
        bool present = false;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        QByteArray header;
        bool operator==(const DiskState&) const = default;
    };

private:
    struct Log
    {
        QString path;
        QString contents;       ///< what it holds, for the user: "items", "categories"
        DiskState seen;         ///< the file at `path` as this program last read or wrote it
        QString keptPath;       ///< where saves go once another program changed the file
        qint64 lost = 0;        ///< items read from the changed file that could no longer be read
        bool noticeDue = false; ///< the first save beside the log is still to be told
        QString keptNotice;     ///< for the user, until taken
        QString target() const { return keptPath.isEmpty() ? path : keptPath; }
        bool keepOriginal = false; ///< the file on disk was not read whole: copy it aside first
        /// Likewise its side files (companion, side store), damaged or for another log.
        bool keepSide[2] = {false, false};
        LogLoadResult result;
    };
    /// Reads a log into `sink`: `begin` gets the open log and the number of records to come;
    /// then `addAll` takes every record when no side file gives any of them more than the log
    /// holds (returning how many the file still held), else each record goes to `addStored` as
    /// the log stores it or to `addRecord` with what a side file gave it.
    template <typename Record, typename Sink>
    static LogLoadResult readLog(Log& log, Sink& sink);
    /// Writes the header and then what `body` writes, with the side files, at the log's target.
    static bool saveLog(Log& log, const char* tag, qint64 count,
                        const std::function<bool(const WriteBytes&)>& body,
                        const std::array<QList<WholeValue>, 2>& values, QString* error);
    /// Whether another program changed the file at the log's path since this program read or
    /// wrote it. A file that is gone is no one's: the save puts the program's view back.
    static bool changedByAnother(const Log& log);
    /// Turns the log's saves to a file beside it, from now on, and leaves the notice for the
    /// user; `lost` tells how many of the items read from it could no longer be read.
    static void keepBeside(Log& log, qint64 lost);
    static QString keptNotice(const Log& log);
    /// Copies `path` aside as "<path>.unreadable" when `keep` is set, then clears it.
    static bool keepAside(const QString& path, bool& keep, QString* error);

    Log m_items;
    Log m_categories;
};

/// Name of the copy kept of an unreadable log.
QString UnreadableCopyPath(const QString& logPath);
