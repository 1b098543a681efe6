#include "partialfiles.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace transfer {

namespace {

/// One partial file's place. Its path is written before the slot is marked ready and is read by
/// the handler only while it is, so the handler never reads half a path.
struct Slot
{
    enum State : int
    {
        Free,
        Writing,
        Ready
    };
    std::atomic<int> state{Free};
    char path[PATH_MAX] = {};
};

// Enough for every transfer a capture runs at once; one more simply goes unlisted.
constexpr int kSlots = 64;
Slot g_slots[kSlots];

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots");

/// Where a deferred signal is told; -1: it ends the process at once.
std::atomic<int> g_deferredTo{-1};

/// Held while a partial file is made; taken for good by the end.
std::mutex g_creation;

void removePartialFiles()
{
    for (Slot& slot : g_slots) {
        if (slot.state.load(std::memory_order_acquire) == Slot::Ready)
            ::unlink(slot.path); // async-signal-safe
    }
}

extern "C" void removePartialFilesAndEnd(int signal)
{
    if (const int fd = g_deferredTo.load(); fd >= 0) {
        const auto number = static_cast<unsigned char>(signal);
        if (::write(fd, &number, 1) == 1)
            return; // the handler was reset as it ran: a second signal ends it at once
    }
    removePartialFiles();
    // The handler was reset as it ran: the same signal now ends the process as it would have.
    ::raise(signal);
}

/// A number no one can foresee, from the system's source (no device to open each time).
unsigned randomNumber()
{
    unsigned number = 0;
    while (::getrandom(&number, sizeof number, 0) < 0 && errno == EINTR) {
    }
    return number;
}

} // namespace

std::string SystemError(std::string_view what, const std::string& path)
{
    const char* reason = std::strerror(errno);
    return std::string(what) + ' ' + path + ": " + reason;
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

int CreatePartialFile(int folder, const std::string& folderPath, const std::string& name,
                      std::string& partName, std::string& partPath,
                      std::optional<PartialFile>& known, std::string& error)
{
    // A name near the file system's limit leaves no room for the suffix: the partial file takes
    // the name's beginning (it is renamed to the whole name at the end).
    constexpr std::size_t kSuffixLength = 14; // ".%08x.part"
    const std::string stem =
        name.size() + kSuffixLength > NAME_MAX ? name.substr(0, NAME_MAX - kSuffixLength) : name;
    int fd = -1;
    const std::unique_lock<std::mutex> creating = LockPartialFileCreation();
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.part", randomNumber());
        partName = stem + suffix;
        partPath = folderPath + '/' + partName;
        // Known to the termination handler before it exists: a signal between its creation and
        // its registration would otherwise leave it behind.
        known.emplace(partPath.c_str());
        fd = ::openat(folder, partName.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0)
            break;
        const int reason = errno;
        known.reset();
        errno = reason; // for the message below
        if (reason != EEXIST)
            break;
    }
    if (fd < 0) {
        error = SystemError("cannot create", partPath);
        partName.clear();
        partPath.clear();
    }
    return fd;
}

PartialFile::PartialFile(const char* path)
{
    if (std::strlen(path) >= PATH_MAX)
        return;
    for (int i = 0; i < kSlots; ++i) {
        int expected = Slot::Free;
        if (!g_slots[i].state.compare_exchange_strong(expected, Slot::Writing,
                                                      std::memory_order_acquire))
            continue;
        std::strcpy(g_slots[i].path, path);
        g_slots[i].state.store(Slot::Ready, std::memory_order_release);
        m_slot = i;
        return;
    }
}

PartialFile::~PartialFile()
{
    if (m_slot >= 0)
        g_slots[m_slot].state.store(Slot::Free, std::memory_order_release);
}

std::unique_lock<std::mutex> LockPartialFileCreation()
{
    return std::unique_lock<std::mutex>(g_creation);
}

void DeferTerminationTo(int fd)
{
    g_deferredTo.store(fd);
}

void EndByTerminationSignal(int signal)
{
    g_creation.lock(); // never given back: the process ends below
    removePartialFiles();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    ::_exit(128 + signal); // a signal that does not end by default
}

void RemovePartialFilesOnTermination()
{
    struct sigaction action = {};
    action.sa_handler = removePartialFilesAndEnd;
    sigemptyset(&action.sa_mask);
    // Reset to the default as the handler starts, and not blocked inside it: its raise() ends
    // the process at once.
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace transfer
