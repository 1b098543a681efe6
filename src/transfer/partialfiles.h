#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace transfer {

/// The partial files of the transfers under way, known to a signal handler: a tool stopped with
/// Ctrl-C, or ended by its session, leaves no "<file>.<random>.part" behind. Registering costs a
/// few stores and no lock, so that the handler may read the list at any moment.
class PartialFile final
{
public:
    /// Remembers `path` (a file this process created) until the object goes.
    explicit PartialFile(const char* path);
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

private:
    int m_slot = -1; ///< -1: the list was full, the file is not known to the handler
};

/// From now on SIGINT, SIGTERM and SIGHUP remove every partial file under way, then end the
/// process by the same signal, so that its parent sees 128 + the signal's number.
void RemovePartialFilesOnTermination();

/// While `fd` is not -1, the first such signal is not acted on at once: its number is written to
/// `fd` as one byte, for the program to finish what it must and call EndByTerminationSignal. A
/// second signal ends the process at once.
void DeferTerminationTo(int fd);

/// Removes every partial file under way and ends the process by `signal`. Once it began, no
/// transfer makes another partial file (LockPartialFileCreation never returns).
[[noreturn]] void EndByTerminationSignal(int signal);

/// Held while a partial file is named, registered and made: an end by a deferred signal
/// (EndByTerminationSignal) takes it first, so that no file is made after the removal.
std::unique_lock<std::mutex> LockPartialFileCreation();

/// Creates the partial file of the file `name` in the open folder `folder` (whose path is
/// `folderPath`) new and exclusively, under a name no one else holds ("<name>.<random>.part",
/// the name shortened where the file system needs), known to the termination handler through
/// `known`: a file or link planted under a predictable name is never followed, truncated or
/// removed. Returns its descriptor with its name in `partName` and its path in `partPath`, or -1
/// with `error` set and both empty (nothing of ours).
int CreatePartialFile(int folder, const std::string& folderPath, const std::string& name,
                      std::string& partName, std::string& partPath,
                      std::optional<PartialFile>& known, std::string& error);

/// Writes all of `bytes`, again after an interruption. False when the file takes no more (the
/// reason in errno).
bool WriteAll(int fd, std::string_view bytes);

/// What failed, on which file, and the system's reason, as the last call left it in errno.
std::string SystemError(std::string_view what, const std::string& path);

} // namespace transfer
