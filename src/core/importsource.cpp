#include "importsource.h"

#include "confinedpath.h"
#include "filetransfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <zip.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

/// Deeper trees are no collection: the walk stops there rather than run into a loop of mounts.
constexpr int kMostDepth = 64;
constexpr std::size_t kPiece = std::size_t(1) << 20;

const QString kLinkSkipped = QStringLiteral("a link; links are not followed");

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

/// Closes a descriptor when it goes.
struct FileHandle
{
    int fd = -1;
    explicit FileHandle(int descriptor)
        : fd(descriptor)
    {
    }
    ~FileHandle()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
};

/// A folder tree, walked once without following a link.
class FolderSource final : public ImportSource
{
public:
    explicit FolderSource(QString root)
        : m_root(std::move(root))
    {
    }
    /// One file of the folder alone.
    FolderSource(QString root, const QString& name)
        : m_root(std::move(root))
    {
        add({name, -1, {}});
    }

    bool walk(QString* error)
    {
        const int top =
            ::open(QFile::encodeName(m_root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (top < 0) {
            *error = systemReason(errno);
            return false;
        }
        walkFolder(top, QString(), 0);
        return true;
    }

    QString localPath(const SourceEntry& entry) const override
    {
        return QDir(m_root).filePath(entry.path);
    }
    QString location() const override { return m_root; }

    bool read(const SourceEntry& entry, qint64 maxBytes, const Piece& piece,
              QString* error) const override
    {
        // Opened without following a link and without blocking: a FIFO put in its place
        // meanwhile never holds the import.
        const FileHandle file(::open(QFile::encodeName(localPath(entry)).constData(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat status
        {
        };
        if (file.fd < 0 || ::fstat(file.fd, &status) != 0) {
            *error = systemReason(errno);
            return false;
        }
        if (!S_ISREG(status.st_mode)) {
            *error = QStringLiteral("not a regular file");
            return false;
        }
        if (status.st_size > maxBytes) {
            *error = tooLarge(maxBytes);
            return false;
        }
        ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        thread_local std::vector<char> buffer(kPiece);
        for (;;) {
            const ssize_t got = ::read(file.fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                *error = systemReason(errno);
                return false;
            }
            if (got == 0 || !piece(std::string_view(buffer.data(), std::size_t(got))))
                return true;
        }
    }

    static QString tooLarge(qint64 maxBytes)
    {
        return QStringLiteral("larger than %1 MiB").arg(maxBytes >> 20);
    }

private:
    /// Lists a folder, then walks its subfolders one at a time: the walk holds one descriptor
    /// per level it is in, never one per folder still to walk, so a tree of thousands of
    /// folders imports whole under any limit of open files.
    void walkFolder(int folder, const QString& prefix, int depth)
    {
        DIR* listing = ::fdopendir(folder);
        if (!listing) {
            ::close(folder);
            return;
        }
        std::vector<QByteArray> subfolders;
        while (const dirent* found = ::readdir(listing)) {
            if (std::strcmp(found->d_name, ".") == 0 || std::strcmp(found->d_name, "..") == 0)
                continue;
            const QString path = prefix + QFile::decodeName(found->d_name);
            unsigned char type = found->d_type;
            if (type == DT_UNKNOWN) {
                struct stat status
                {
                };
                if (::fstatat(folder, found->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISDIR(status.st_mode)   ? DT_DIR
                       : S_ISLNK(status.st_mode) ? DT_LNK
                       : S_ISREG(status.st_mode) ? DT_REG
                                                 : DT_FIFO;
            }
            if (type == DT_DIR) {
                if (depth + 1 < kMostDepth)
                    subfolders.emplace_back(found->d_name);
            } else if (type == DT_LNK) {
                add({path, 0, kLinkSkipped});
            } else if (type == DT_REG) {
                add({path, -1, {}});
            } else {
                // Sockets, devices and FIFOs are no files of a collection, and a FIFO would hold
                // the import for ever: said, never opened.
                add({path, 0, QStringLiteral("not a file (a FIFO, a socket or a device)")});
            }
        }
        for (const QByteArray& name : subfolders) {
            const QString path = prefix + QFile::decodeName(name) + u'/';
            const int sub =
                ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0)
                walkFolder(sub, path, depth + 1);
            else
                add({path.chopped(1), 0, systemReason(errno)});
        }
        ::closedir(listing);
    }

    QString m_root;
};

/// A zip archive, read with libzip; a damaged one is refused whole when its directory cannot
/// be read, and a damaged entry when it is read.
class ZipSource final : public ImportSource
{
public:
    explicit ZipSource(QString path)
        : m_path(std::move(path))
    {
    }
    ~ZipSource() override
    {
        if (m_archive)
            zip_discard(m_archive);
    }
    ZipSource(const ZipSource&) = delete;
    ZipSource& operator=(const ZipSource&) = delete;

    bool list(QString* error)
    {
        m_bound = std::min(kMostUnpacked, kMostRatio * QFileInfo(m_path).size());
        int code = 0;
        m_archive = zip_open(QFile::encodeName(m_path).constData(), ZIP_RDONLY, &code);
        if (!m_archive) {
            zip_error_t reason;
            zip_error_init_with_code(&reason, code);
            *error = QStringLiteral("not a readable zip archive (%1)")
                         .arg(QString::fromUtf8(zip_error_strerror(&reason)));
            zip_error_fini(&reason);
            return false;
        }
        const zip_int64_t count = zip_get_num_entries(m_archive, 0);
        for (zip_int64_t index = 0; index < count; ++index) {
            zip_stat_t status;
            zip_stat_init(&status);
            if (zip_stat_index(m_archive, zip_uint64_t(index), 0, &status) != 0 || !status.name)
                continue;
            const QString name = QString::fromUtf8(status.name);
            if (name.endsWith(u'/'))
                continue; // a folder
            SourceEntry entry{name, qint64(status.size), {}};
            // Judged by its own bytes: a name that is no UTF-8 is not read as something else.
            if (const std::string why = transfer::WhyNotBelow(status.name); !why.empty())
                entry.skipReason =
                    QStringLiteral("an unsafe name (%1)").arg(QString::fromStdString(why));
            else if (m_indexOf.contains(name))
                entry.skipReason = QStringLiteral("a second entry of the same name");
            if (!m_indexOf.contains(name))
                m_indexOf.insert(name, index);
            add(entry);
        }
        return true;
    }

    QString localPath(const SourceEntry&) const override { return {}; }
    QString location() const override { return m_path; }
    qint64 unpackBound() const override { return m_bound; }
    QString whyOverBound(const SourceEntry& entry) const override
    {
        return entry.size <= m_bound - m_unpacked ? QString() : overBound();
    }

    bool read(const SourceEntry& entry, qint64 maxBytes, const Piece& piece,
              QString* error) const override
    {
        if (entry.size > maxBytes) {
            *error = FolderSource::tooLarge(maxBytes);
            return false;
        }
        if (QString why = whyOverBound(entry); !why.isEmpty()) {
            *error = std::move(why);
            return false;
        }
        zip_file_t* file = zip_fopen_index(m_archive, zip_uint64_t(m_indexOf.value(entry.path)), 0);
        if (!file) {
            *error = QString::fromUtf8(zip_strerror(m_archive));
            return false;
        }
        thread_local std::vector<char> buffer(kPiece);
        qint64 total = 0;
        bool whole = true;
        for (;;) {
            const zip_int64_t got = zip_fread(file, buffer.data(), buffer.size());
            if (got < 0) {
                *error = QString::fromUtf8(zip_file_strerror(file));
                whole = false;
                break;
            }
            total += got;
            m_unpacked += got;
            // The directory's size may lie; the bytes themselves are counted.
            if (total > maxBytes) {
                *error = FolderSource::tooLarge(maxBytes);
                whole = false;
                break;
            }
            if (m_unpacked > m_bound) {
                *error = overBound();
                whole = false;
                break;
            }
            if (got == 0 || !piece(std::string_view(buffer.data(), std::size_t(got))))
                break;
        }
        zip_fclose(file);
        return whole;
    }

private:
    QString overBound() const
    {
        return QStringLiteral("over the import's bound: an archive unpacks to at most %1 MiB, "
                              "the smaller of 4 GiB and 200 times its size")
            .arg(m_bound >> 20);
    }

    static constexpr qint64 kMostUnpacked = qint64(4) << 30;
    static constexpr qint64 kMostRatio = 200;

    QString m_path;
    qint64 m_bound = 0;
    mutable qint64 m_unpacked = 0; ///< by every read so far
    zip_t* m_archive = nullptr;
    QHash<QString, zip_int64_t> m_indexOf;
};

} // namespace

std::unique_ptr<ImportSource> ImportSource::open(const QString& path, QString* error)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        auto folder = std::make_unique<FolderSource>(info.absoluteFilePath());
        if (!folder->walk(error))
            return nullptr;
        return folder;
    }
    if (!info.exists()) {
        *error = QStringLiteral("there is no such file or folder");
        return nullptr;
    }
    // A movie alone, known by its first bytes.
    QFile file(info.absoluteFilePath());
    if (file.open(QIODevice::ReadOnly) && BeginsAsFlashMovie(file.read(3)))
        return std::make_unique<FolderSource>(info.absolutePath(), info.fileName());
    auto archive = std::make_unique<ZipSource>(info.absoluteFilePath());
    if (!archive->list(error))
        return nullptr;
    return archive;
}

void ImportSource::add(const SourceEntry& entry)
{
    // A second entry of a name is listed, to be reported; the first is the one found by it.
    if (!m_positions.contains(entry.path))
        m_positions.insert(entry.path, m_entries.size());
    m_entries.append(entry);
}

const SourceEntry* ImportSource::find(const QString& path) const
{
    const auto position = m_positions.constFind(path);
    return position == m_positions.cend() ? nullptr : &m_entries[*position];
}

bool ImportSource::has(const QString& path) const
{
    const SourceEntry* entry = find(path);
    return entry && entry->skipReason.isEmpty();
}

QByteArray ImportSource::readSmall(const QString& path, qint64 maxBytes) const
{
    const SourceEntry* entry = find(path);
    if (!entry || !entry->skipReason.isEmpty())
        return {};
    QByteArray bytes;
    QString error;
    const bool whole = read(
        *entry, maxBytes,
        [&](std::string_view piece) {
            bytes.append(piece.data(), qsizetype(piece.size()));
            return true;
        },
        &error);
    return whole ? bytes : QByteArray();
}

bool IsContainedPath(const QString& path)
{
    if (path.isEmpty() || path.startsWith(u'/') || path.contains(u'\\'))
        return false;
    const QStringList segments = path.split(u'/');
    return std::none_of(segments.cbegin(), segments.cend(), [](const QString& segment) {
        return segment.isEmpty() || segment == u"." || segment == u"..";
    });
}
