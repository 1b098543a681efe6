#pragma once

// The block the pointer-watch library and the program share, opened the same way by both: a
// 12-byte file "QARVEN_MOUSE.<tag>" in a folder only its user can create names in (the user's
// runtime folder, else a private folder in the data folder), named for the display and the data
// folder, so that neither another user nor another session of the same user can take it or
// read its points. The program picks the path and hands it to the library. Header-only: the
// library and the program include it, neither links the other.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace mouseblock {

/// A flag, then the pointer's x and y in screen pixels.
constexpr std::size_t kSize = 12;

enum class Opened
{
    Existing, ///< a block of this user's that was there already
    Created,  ///< made now, zero-filled
    Refused,  ///< missing (when not asked to create), or not this user's alone
};

/// Whether an open file is a block this user may trust: a regular file of theirs that nobody
/// else may read or write.
inline bool isPrivateFile(const struct stat& facts)
{
    return facts.st_uid == geteuid() && S_ISREG(facts.st_mode) && (facts.st_mode & 077) == 0;
}

/// Opens the block at `path` and maps it. A missing block is made when `create` is set. A file
/// of this user's that others may read or write is replaced by a new one; one too small (a
/// truncated or foreign-made file would fault on first touch) is grown to its size; a link, or
/// anything else that is not a private regular file, is refused. Never maps more than the file
/// holds, and never blocks on a FIFO under the name.
inline std::int32_t* map(const char* path, bool create, Opened* opened)
{
    *opened = Opened::Refused;
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = open(path, kFlags);
    struct stat facts = {};
    if (fd >= 0 && fstat(fd, &facts) == 0 && facts.st_uid == geteuid() && S_ISREG(facts.st_mode) &&
        (facts.st_mode & 077) != 0) {
        // Ours, but open to others: they may hold it already. Start a private one instead.
        close(fd);
        fd = -1;
        if (!create || unlink(path) != 0)
            return nullptr;
    }
    if (fd < 0 && create) {
        fd = open(path, kFlags | O_CREAT | O_EXCL, 0600);
        if (fd >= 0)
            *opened = Opened::Created;
    }
    if (fd < 0)
        return nullptr;
    if (fstat(fd, &facts) != 0 || !isPrivateFile(facts) ||
        (facts.st_size < static_cast<off_t>(kSize) && ftruncate(fd, kSize) != 0)) {
        close(fd);
        *opened = Opened::Refused;
        return nullptr;
    }
    void* block = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (block == MAP_FAILED) {
        *opened = Opened::Refused;
        return nullptr;
    }
    if (*opened != Opened::Created)
        *opened = Opened::Existing;
    return static_cast<std::int32_t*>(block);
}

/// The "a point is waiting" flag at the block's start.
inline std::atomic<std::int32_t>& flag(std::int32_t* block)
{
    return *reinterpret_cast<std::atomic<std::int32_t>*>(block);
}

inline void unmap(std::int32_t* block)
{
    if (block)
        munmap(block, kSize);
}

} // namespace mouseblock
