#include "replacingfile.h"

#include "confinedpath.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace transfer {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

/// Opens the folder a writer was given, making it and those above it when missing.
int openGivenFolder(const std::string& folder)
{
    const std::string path = folder.empty() ? std::string(".") : folder;
    int fd = ::open(path.c_str(), kFolderFlags);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string level = path.substr(0, slash);
        if (::mkdir(level.c_str(), 0755) != 0 && errno != EEXIST)
            return -1;
        if (slash == std::string::npos)
            break;
    }
    return ::open(path.c_str(), kFolderFlags);
}

/// The folder `name` inside `parent`, made when missing, never through a link.
int openOrMakeBelow(int parent, const std::string& name)
{
    const int flags = kFolderFlags | O_NOFOLLOW;
    int fd = ::openat(parent, name.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
        if (::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST)
            return -1;
        fd = ::openat(parent, name.c_str(), flags);
    }
    return fd;
}

bool renameNeverOver(int dir, const std::string& from, const std::string& to)
{
    if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link is never made over an existing name either.
    if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0)
        return false;
    ::unlinkat(dir, from.c_str(), 0);
    return true;
}

} // namespace

ReplacingWriter::ReplacingWriter(const std::string& target, Placing placing)
    : m_placing(placing)
{
    const std::size_t slash = target.rfind('/');
    m_folder = slash == std::string::npos ? std::string(".")
               : slash == 0               ? std::string("/")
                                          : target.substr(0, slash);
    m_below = slash == std::string::npos ? target : target.substr(slash + 1);
}

ReplacingWriter::ReplacingWriter(std::string folder, std::string below, Placing placing)
    : m_folder(std::move(folder))
    , m_below(std::move(below))
    , m_placing(placing)
    , m_nameChecked(false)
{
}

ReplacingWriter::~ReplacingWriter()
{
    discard();
}

std::string ReplacingWriter::target() const
{
    return m_folder + (m_folder.empty() || m_folder.back() == '/' ? "" : "/") + m_below;
}

void ReplacingWriter::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_partName.empty())
        ::unlinkat(m_dir, m_partName.c_str(), 0);
    m_partName.clear();
    m_partPath.clear();
    m_known.reset();
    if (m_dir >= 0)
        ::close(m_dir);
    m_dir = -1;
}

int ReplacingWriter::openFolders(std::string& error)
{
    int dir = openGivenFolder(m_folder);
    if (dir < 0) {
        error = SystemError("cannot create", m_folder);
        return -1;
    }
    std::string path = m_folder;
    std::size_t start = 0;
    for (std::size_t slash; (slash = m_below.find('/', start)) != std::string::npos;
         start = slash + 1) {
        const std::string name = m_below.substr(start, slash - start);
        path += '/' + name;
        const int next = openOrMakeBelow(dir, name);
        const int reason = errno;
        ::close(dir);
        if (next < 0) {
            errno = reason;
            error = reason == ELOOP || reason == ENOTDIR
                        ? "a link or a file stands in the way of " + target()
                        : SystemError("cannot create", path);
            return -1;
        }
        dir = next;
    }
    m_name = m_below.substr(start);
    return dir;
}

int ReplacingWriter::open(std::string& error)
{
    if (!m_nameChecked) {
        if (std::string why = WhyNotBelow(m_below); !why.empty()) {
            error = "an unsafe name (" + why + "): " + m_below;
            return -1;
        }
    } else if (m_below.empty() || m_below == "." || m_below == "..") {
        error = "no file name in " + target();
        return -1;
    }
    m_dir = openFolders(error);
    if (m_dir < 0)
        return -1;
    struct stat standing
    {
    };
    if (::fstatat(m_dir, m_name.c_str(), &standing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(standing.st_mode)) {
            error = target() + " is a folder";
            return -1;
        }
        if (m_placing == Placing::NeverOver) {
            error = target() + " exists already";
            return -1;
        }
    }
    const std::size_t cut = target().size() - m_name.size();
    const std::string folderPath = target().substr(0, cut ? cut - 1 : 0);
    return CreatePartialFile(m_dir, folderPath, m_name, m_partName, m_partPath, m_known, error);
}

bool ReplacingWriter::write(std::string_view bytes, std::string* error)
{
    std::string failure = "nothing more is written after a failure";
    if (!m_failed && m_fd < 0 && m_partName.empty())
        m_fd = open(failure);
    if (!m_failed && m_fd >= 0) {
        if (WriteAll(m_fd, bytes)) {
            m_size += bytes.size();
            return true;
        }
        failure = SystemError("cannot write", m_partPath);
    }
    m_failed = true;
    discard();
    if (error)
        *error = failure;
    return false;
}

bool ReplacingWriter::placeFile(std::string& error)
{
    const bool placed = m_placing == Placing::Replace
                            ? ::renameat(m_dir, m_partName.c_str(), m_dir, m_name.c_str()) == 0
                            : renameNeverOver(m_dir, m_partName, m_name);
    if (!placed)
        error = errno == EEXIST ? target() + " exists already"
                                : SystemError("cannot replace", target());
    return placed;
}

bool ReplacingWriter::commit(std::string* error)
{
    if (!write({}, error))
        return false;
    std::string failure;
    if (::fsync(m_fd) != 0)
        failure = SystemError("cannot write", m_partPath);
    ::close(std::exchange(m_fd, -1));
    if (failure.empty() && placeFile(failure)) {
        m_partName.clear(); // it is the target now
        discard();
        return true;
    }
    m_failed = true;
    discard();
    if (error)
        *error = failure;
    return false;
}

bool WriteFileReplacing(const std::string& target, std::string_view bytes, std::string* error)
{
    ReplacingWriter writer(target);
    return writer.write(bytes, error) && writer.commit(error);
}

} // namespace transfer
