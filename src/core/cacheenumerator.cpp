#include "cacheenumerator.h"

#include "datafolder.h"
#include "regularfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QtEndian>

namespace {

/// Whether a program's file name is a Chromium-family browser's.
bool IsChromiumFamilyProgram(const QString& name)
{
    const QString lower = name.toLower();
    for (const char* browser : {"chromium", "chrome", "brave", "msedge", "microsoft-edge"}) {
        if (lower.contains(QLatin1String(browser)))
            return true;
    }
    return false;
}

constexpr quint64 kSimpleIndexMagic = 0xfcfb6d1ba7725c30ULL;
constexpr int kDiscoveryDepth = 5;
/// The most a compressed cached body may unpack to: far above any movie, far below what a
/// crafted body (a thousand to one) would fill the disk with.
constexpr qint64 kMaxUnpackedBody = qint64(64) << 20;

/// An entry file opened for reading without following links or blocking on a FIFO.
class FileEntryBytes final : public EntryBytes
{
public:
    explicit FileEntryBytes(const QString& path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return;
        if (::fstat(m_fd, &m_stat) != 0 || !S_ISREG(m_stat.st_mode)) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~FileEntryBytes() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileEntryBytes(const FileEntryBytes&) = delete;
    FileEntryBytes& operator=(const FileEntryBytes&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    const struct stat& status() const { return m_stat; }
    /// Whether the file is still the one that was opened, unchanged.
    bool unchanged() const
    {
        struct stat now
        {
        };
        return ::fstat(m_fd, &now) == 0 && now.st_size == m_stat.st_size &&
               now.st_mtim.tv_sec == m_stat.st_mtim.tv_sec &&
               now.st_mtim.tv_nsec == m_stat.st_mtim.tv_nsec;
    }

    qint64 size() const override { return m_stat.st_size; }
    std::optional<QByteArray> read(qint64 offset, qint64 length) const override
    {
        if (offset < 0 || length < 0 || offset > size() || length > size() - offset)
            return std::nullopt;
        QByteArray bytes(length, Qt::Uninitialized);
        qint64 done = 0;
        while (done < length) {
            const ssize_t n = ::pread(m_fd, bytes.data() + done, static_cast<size_t>(length - done),
                                      offset + done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return std::nullopt; // shrunk meanwhile
            done += n;
        }
        return bytes;
    }

private:
    int m_fd = -1;
    struct stat m_stat
    {
    };
};

bool isHex(const char* text, int count, bool upper)
{
    for (int i = 0; i < count; ++i) {
        const char c = text[i];
        const bool digit = c >= '0' && c <= '9';
        const bool letter = upper ? (c >= 'A' && c <= 'F') : (c >= 'a' && c <= 'f');
        if (!digit && !letter)
            return false;
    }
    return true;
}

/// Entry file names: "<16 lower hex>_0" in a simple cache, 40 upper hex digits in cache2.
bool isEntryName(const char* name, CacheLocation::Format format)
{
    const std::size_t length = std::strlen(name);
    if (format == CacheLocation::Format::ChromiumSimple)
        return length == 18 && isHex(name, 16, false) && name[16] == '_' && name[17] == '0';
    return length == 40 && isHex(name, 40, true);
}

bool isSimpleCacheFolder(const QDir& folder)
{
    // Opened as entries are: a FIFO or device named "index" never holds the walk.
    const FileEntryBytes index(folder.filePath(QStringLiteral("index")));
    if (!index.isOpen())
        return false;
    const auto head = index.read(0, 8);
    return head && head->size() == 8 &&
           qFromLittleEndian<quint64>(head->constData()) == kSimpleIndexMagic;
}

void findCaches(const QString& path, int depth, QList<CacheLocation>& found)
{
    const QDir folder(path);
    const QString name = folder.dirName();
    if (name == u"Code Cache" || name == u"GPUCache" || name == u"GrShaderCache")
        return;
    if (isSimpleCacheFolder(folder)) {
        found.append({folder.absolutePath(), CacheLocation::Format::ChromiumSimple});
        return;
    }
    if (name == u"entries" && folder.absolutePath().endsWith(QStringLiteral("cache2/entries"))) {
        found.append({folder.absolutePath(), CacheLocation::Format::FirefoxCache2});
        return;
    }
    if (depth == 0)
        return;
    const QStringList children =
        folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks);
    for (const QString& child : children)
        findCaches(folder.filePath(child), depth - 1, found);
}

QString cacheHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CACHE_HOME");
    return xdg.isEmpty() ? QDir::homePath() + QStringLiteral("/.cache") : xdg;
}

QString configHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    return xdg.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : xdg;
}

/// Firefox keeps a profile's cache below the cache home, at the profile's relative path.
void firefoxCaches(QList<CacheLocation>& found)
{
    const QString roots[] = {QDir::homePath() + QStringLiteral("/.mozilla/firefox"),
                             configHome() + QStringLiteral("/mozilla/firefox")};
    for (const QString& root : roots) {
        // Read without blocking, bounded: a FIFO of that name would never end.
        const IniText profiles = IniText::read(root + QStringLiteral("/profiles.ini"));
        for (const QString& group : profiles.groups) {
            if (!group.startsWith(QStringLiteral("Profile")))
                continue;
            const QString path = profiles.value(group + QStringLiteral("/Path"));
            const bool relative =
                profiles.value(group + QStringLiteral("/IsRelative"), QStringLiteral("1"))
                    .toInt() != 0;
            if (path.isEmpty())
                continue;
            const QString profile =
                relative ? cacheHome() + QStringLiteral("/mozilla/firefox/") + path : path;
            const QString entries = profile + QStringLiteral("/cache2/entries");
            if (QFileInfo(entries).isDir())
                found.append({QDir(entries).absolutePath(), CacheLocation::Format::FirefoxCache2});
        }
    }
}

} // namespace

QList<CacheLocation> CacheEnumerator::CachesBelow(const QString& folder)
{
    QList<CacheLocation> found;
    findCaches(folder, kDiscoveryDepth, found);
    return found;
}

QList<CacheLocation> CacheEnumerator::DiscoverCaches(const QStringList& profileFolders)
{
    QList<CacheLocation> found;
    QSet<QString> seen;
    const auto add = [&](const CacheLocation& location) {
        const QString canonical = QFileInfo(location.folder).canonicalFilePath();
        if (!seen.contains(canonical)) {
            seen.insert(canonical);
            found.append(location);
        }
    };
    QStringList chromiumFolders{cacheHome()};
    chromiumFolders << profileFolders;
    for (const QString& folder : chromiumFolders) {
        for (const CacheLocation& location : CachesBelow(folder)) {
            // Firefox's own folders are found through its profiles below.
            if (location.format == CacheLocation::Format::ChromiumSimple)
                add(location);
        }
    }
    QList<CacheLocation> firefox;
    firefoxCaches(firefox);
    for (const CacheLocation& location : firefox)
        add(location);
    return found;
}

QStringList CacheEnumerator::ProfileFolders(const QString& dataFolder)
{
    QStringList folders{QDir(dataFolder).filePath(QLatin1String(kChromiumProfileFolder)),
                        QDir(dataFolder).filePath(QStringLiteral("browser"))};
    const QString prefix = QStringLiteral("--user-data-dir=");
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : processes) {
        bool number = false;
        pid.toLongLong(&number);
        struct stat facts = {};
        const QByteArray process = QFile::encodeName(QStringLiteral("/proc/") + pid);
        // Only this user's browsers: another user's profile is none of ours to read.
        if (!number || ::stat(process.constData(), &facts) != 0 || facts.st_uid != ::geteuid())
            continue;
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!commandLine.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = commandLine.read(64 * 1024).split('\0');
        const QString program = QFileInfo(QFile::decodeName(arguments.value(0))).fileName();
        if (!IsChromiumFamilyProgram(program))
            continue;
        for (const QByteArray& argument : arguments) {
            const QString text = QFile::decodeName(argument);
            if (text.startsWith(prefix) && !folders.contains(text.mid(prefix.size())))
                folders << text.mid(prefix.size());
        }
    }
    return folders;
}

CacheEnumerator::CacheEnumerator(QList<CacheLocation> locations)
    : m_locations(std::move(locations))
{
}

std::optional<CacheEntry> ReadCacheEntryFile(const QString& path, CacheLocation::Format format)
{
    FileEntryBytes bytes(path);
    if (!bytes.isOpen())
        return std::nullopt;
    std::optional<CacheEntry> entry = format == CacheLocation::Format::ChromiumSimple
                                          ? ParseChromiumEntry(bytes)
                                          : ParseFirefoxEntry(bytes);
    // A browser writing the entry meanwhile makes what was read meaningless.
    if (!entry || !bytes.unchanged())
        return std::nullopt;
    entry->file = path;
    entry->lastModified = QDateTime::fromSecsSinceEpoch(bytes.status().st_mtim.tv_sec, Qt::UTC);
    return entry;
}

bool CacheEnumerator::EnumerateEntries(
    const std::function<void(const CacheEntry&, bool&)>& onEntry) const
{
    if (m_locations.isEmpty())
        return false;
    bool cancel = false;
    for (const CacheLocation& location : m_locations) {
        DIR* folder = ::opendir(QFile::encodeName(location.folder).constData());
        if (!folder)
            continue;
        const QDir base(location.folder);
        while (!cancel) {
            const dirent* item = ::readdir(folder);
            if (!item)
                break;
            if (!isEntryName(item->d_name, location.format))
                continue;
            const QString path = base.filePath(QFile::decodeName(item->d_name));
            if (const auto entry = ReadCacheEntryFile(path, location.format))
                onEntry(*entry, cancel);
        }
        ::closedir(folder);
        if (cancel)
            break;
    }
    return true;
}

bool ExtractCachedBody(const CacheEntry& entry, const QString& outFile, QString* error)
{
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    FileEntryBytes bytes(entry.file);
    if (!bytes.isOpen())
        return fail(QStringLiteral("cannot open %1").arg(entry.file));
    if (entry.bodyOffset < 0 || entry.bodySize < 0 || entry.bodyOffset > bytes.size() ||
        entry.bodySize > bytes.size() - entry.bodyOffset)
        return fail(QStringLiteral("the entry changed since it was listed"));

    const QByteArray headers = entry.headers.toLower();
    const bool compressed = headers.contains("content-encoding: gzip") ||
                            headers.contains("content-encoding: deflate") ||
                            headers.contains("content-encoding: x-gzip");
    QSaveFile out(outFile);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(QStringLiteral("cannot create %1").arg(outFile));

    z_stream stream{};
    if (compressed && inflateInit2(&stream, 32 + MAX_WBITS) != Z_OK) // gzip or zlib, detected
        return fail(QStringLiteral("the decompressor could not start"));
    constexpr qint64 kBlock = 256 * 1024;
    QByteArray inflated(kBlock, Qt::Uninitialized);
    bool ok = true;
    bool tooLarge = false;
    qint64 unpacked = 0;
    int inflateResult = Z_OK;
    for (qint64 done = 0; ok && done < entry.bodySize;) {
        const qint64 length = std::min(kBlock, entry.bodySize - done);
        const auto block = bytes.read(entry.bodyOffset + done, length);
        if (!block) {
            ok = false;
            break;
        }
        done += length;
        if (!compressed) {
            ok = out.write(*block) == block->size();
            continue;
        }
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block->constData()));
        stream.avail_in = static_cast<uInt>(block->size());
        while (ok && stream.avail_in > 0) {
            // A body of several gzip members is one file: each member after the first is
            // unpacked too, never dropped.
            if (inflateResult == Z_STREAM_END && inflateReset(&stream) != Z_OK) {
                ok = false;
                break;
            }
            stream.next_out = reinterpret_cast<Bytef*>(inflated.data());
            stream.avail_out = static_cast<uInt>(inflated.size());
            inflateResult = inflate(&stream, Z_NO_FLUSH);
            if (inflateResult != Z_OK && inflateResult != Z_STREAM_END) {
                ok = false;
                break;
            }
            const qint64 produced = inflated.size() - stream.avail_out;
            unpacked += produced;
            if (unpacked > kMaxUnpackedBody) {
                tooLarge = true;
                ok = false;
                break;
            }
            ok = out.write(inflated.constData(), produced) == produced;
        }
    }
    if (compressed) {
        inflateEnd(&stream);
        ok = ok && inflateResult == Z_STREAM_END;
    }
    if (tooLarge) {
        out.cancelWriting();
        return fail(QStringLiteral("the cached body of %1 unpacks to more than %2 MiB")
                        .arg(PrintableKey(entry.url))
                        .arg(kMaxUnpackedBody >> 20));
    }
    if (!ok) {
        out.cancelWriting();
        return fail(QStringLiteral("the cached body of %1 could not be read whole")
                        .arg(PrintableKey(entry.url)));
    }
    if (!out.commit())
        return fail(QStringLiteral("cannot write %1").arg(outFile));
    return true;
}
