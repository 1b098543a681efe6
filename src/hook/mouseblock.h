#pragma once

// The block the pointer-watch library and the program share, opened the same way by both. It
// is one per user ("/QARVEN_MOUSE.<uid>"), so that no other user's program can read the pointer
// or inject points, and a block that is not this user's alone is never mapped. Header-only: the
// library and the program include it, neither links the other.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace mouseblock {

/// A flag, then the pointer's x and y in screen pixels.
constexpr std::size_t kSize = 12;

inline std::string name()
{
    return "/QARVEN_MOUSE." + std::to_string(getuid());
}

enum class Opened
{
    Existing, ///< a block of this user's that was there already
    Created,  ///< made now, zero-filled
    Refused,  ///< missing (when not asked to create), or not this user's alone
};

/// Opens the user's block and maps it. A missing block is made when `create` is set. A block
/// of this user's that others may read or write is replaced by a new one; one too small (a
/// truncated or foreign-made file would fault on first touch) is grown to its size; one that
/// belongs to another user, or is no plain shared-memory file, is refused. Never maps more than
/// the file holds.
inline std::int32_t* map(bool create, Opened* opened)
{
    const std::string path = name();
    *opened = Opened::Refused;
    int fd = shm_open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat facts = {};
    if (fd >= 0 && fstat(fd, &facts) == 0 && facts.st_uid == getuid() && S_ISREG(facts.st_mode) &&
        (facts.st_mode & 077) != 0) {
        // Ours, but open to others: they may hold it already. Start a private one instead.
        close(fd);
        fd = -1;
        if (!create || shm_unlink(path.c_str()) != 0)
            return nullptr;
    }
    if (fd < 0 && create) {
        fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            *opened = Opened::Created;
    }
    if (fd < 0)
        return nullptr;
    if (fstat(fd, &facts) != 0 || facts.st_uid != getuid() || !S_ISREG(facts.st_mode) ||
        (facts.st_mode & 077) != 0 ||
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

inline void unmap(std::int32_t* block)
{
    if (block)
        munmap(block, kSize);
}

} // namespace mouseblock
