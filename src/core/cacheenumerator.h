#pragma once

#include "cacheentry.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

/// A browser cache folder the walk can read.
struct CacheLocation
{
    enum class Format
    {
        ChromiumSimple,
        FirefoxCache2
    };
    QString folder;
    Format format = Format::ChromiumSimple;
};

/// Walks browser HTTP caches entry by entry: Chromium-family simple caches and Firefox cache2
/// folders. Entry files are untrusted: every size and offset is checked against the file, only
/// regular files are opened (never followed through links, never blocking), and a file that
/// changes while it is read is skipped.
class CacheEnumerator final
{
public:
    /// The caches of the current user: every Chromium-family profile below $XDG_CACHE_HOME, the
    /// caches inside `profileFolders` (profiles that keep their cache with them, as one started
    /// with --user-data-dir does), and every Firefox profile that profiles.ini names. A folder
    /// found twice is listed once.
    static QList<CacheLocation> DiscoverCaches(const QStringList& profileFolders = {});
    /// The profile folders whose caches the program searches besides the usual places: the
    /// browser profiles in the data folder (the one "Open a browser for Clip Vault" starts, and
    /// "browser" for one started by hand) and the --user-data-dir of every Chromium-family
    /// browser of this user's that runs.
    static QStringList ProfileFolders(const QString& dataFolder);
    /// The caches at or below a folder the user names (a cache folder, a profile, a home).
    static QList<CacheLocation> CachesBelow(const QString& folder);

    explicit CacheEnumerator(QList<CacheLocation> locations);

    /// Whether a supported cache was found.
    bool LibraryFound() const { return !m_locations.isEmpty(); }
    const QList<CacheLocation>& locations() const { return m_locations; }

    /// Hands every readable entry to `onEntry`, which may set `cancel` to end the walk after it.
    /// False when there is no cache to walk.
    bool EnumerateEntries(
        const std::function<void(const CacheEntry& entry, bool& cancel)>& onEntry) const;

private:
    QList<CacheLocation> m_locations;
};

/// Reads one entry file of the given format; nothing for anything but a whole, stable entry.
std::optional<CacheEntry> ReadCacheEntryFile(const QString& path, CacheLocation::Format format);

/// Copies an entry's response body into a file (atomically), decompressed when the response was
/// gzip- or deflate-encoded. False with the reason in `error`.
bool ExtractCachedBody(const CacheEntry& entry, const QString& outFile, QString* error = nullptr);
