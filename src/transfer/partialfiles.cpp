#include "partialfiles.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
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

} // namespace

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
