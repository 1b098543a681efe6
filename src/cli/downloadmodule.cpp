// The plain download of clipvault-cli as a module the launcher loads only for it: the web's
// libraries (curl and what it brings) take longer to load than the rest of the launcher's work
// for any other command.

#include "partialfiles.h"
#include "plaindownload.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

/// Runs a plain download: its exit code, or -1 when the command is not one (or the address was
/// found gone: why is then in `gone`, ended by a zero byte), for the tool to run.
extern "C" __attribute__((visibility("default"))) int
clipvault_plain_download(int argc, char* argv[], char* gone, std::size_t goneSize)
{
    // Ctrl-C or the end of the session during a download leaves no partial file behind.
    transfer::RemovePartialFilesOnTermination();
    std::string found;
    const std::optional<int> code = cli::RunPlainDownload(argc, argv, found);
    if (goneSize > 0) {
        const std::size_t length = std::min(found.size(), goneSize - 1);
        std::memcpy(gone, found.data(), length);
        gone[length] = '\0';
    }
    return code ? *code : -1;
}
