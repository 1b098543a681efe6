// clipvault-cli: the catalogue and the program's other core services for scripts and tests.
//
// This launcher links no Qt. Scripts start one tool per movie, so a plain download runs here at
// once; every other command, and a download that needs more (a progress line, the web
// archive's copy, an address to encode first), runs in clipvault-tool, which it starts in its
// place.

#include "exitcodes.h"
#include "partialfiles.h"
#include "plaindownload.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

/// The tool beside the launcher, where the build tree and the installed package both put it;
/// empty when the launcher cannot tell where it lies. Never a place relative to the working
/// folder, which may be anyone's.
std::string toolPath()
{
    std::string self(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= self.size() || self[0] != '/')
        return {};
    self.resize(static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/') + 1) + CLIPVAULT_TOOL;
}

/// Starts the tool in this process's place, with the arguments as they came and, before them,
/// why the address of a plain download was found gone (when it was).
int execTool(int argc, char* argv[], const std::string& gone)
{
    const std::string path = toolPath();
    if (path.empty()) {
        std::fprintf(stderr, "clipvault-cli: the tool cannot find its own folder through "
                             "/proc/self/exe, where clipvault-tool lies\n");
        return cli::kFailed;
    }
    std::vector<char*> arguments{argv[0]};
    if (!gone.empty()) {
        arguments.push_back(const_cast<char*>(cli::kLauncherFoundGone));
        arguments.push_back(const_cast<char*>(gone.c_str()));
    }
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    arguments.push_back(nullptr);
    ::execv(path.c_str(), arguments.data());
    std::fprintf(stderr, "clipvault-cli: cannot start %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return cli::kFailed;
}

} // namespace

int main(int argc, char* argv[])
{
    std::setlocale(LC_ALL, ""); // the system's messages in the user's language, as Qt sets it
    // Ctrl-C or the end of the session during a download leaves no partial file behind.
    transfer::RemovePartialFilesOnTermination();
    std::string gone;
    if (const std::optional<int> code = cli::RunPlainDownload(argc, argv, gone))
        return *code;
    return execTool(argc, argv, gone);
}
