#pragma once

#include "companionfile.h"
#include "itemtable.h"

#include <array>
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

private:
    struct Log
    {
        QString path;
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
    static bool saveLog(Log& log, const char* tag, qint64 count, QByteArrayView body,
                        const std::array<QList<WholeValue>, 2>& values, QString* error);
    /// Copies `path` aside as "<path>.unreadable" when `keep` is set, then clears it.
    static bool keepAside(const QString& path, bool& keep, QString* error);

    Log m_items;
    Log m_categories;
};

/// Name of the copy kept of an unreadable log.
QString UnreadableCopyPath(const QString& logPath);
