// clipvault-cli: the catalogue and the program's other core services for scripts and tests.
//
// This program links no Qt. Scripts start one tool per movie, so a plain download runs here at
// once; every other command, and a download that needs more (a progress line, the web
// archive's copy, an address to encode first), runs in the tool's module, which it loads.

#include "exitcodes.h"
#include "partialfiles.h"
#include "plaindownload.h"

#include <clocale>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

/// The module's entry: the arguments, and why the launcher found the address of a plain
/// download gone (null: it found nothing).
using ToolMain = int (*)(int, char**, const char*);

/// The module beside the tool, where the build tree and the installed package both put it;
/// empty when the tool cannot tell where it lies. Never a place relative to the working folder,
/// which may be anyone's.
std::string modulePath()
{
    std::string self(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= self.size() || self[0] != '/')
        return {};
    self.resize(static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/') + 1) + CLIPVAULT_TOOL_MODULE;
}

int runToolModule(int argc, char* argv[], const std::string& gone)
{
    const std::string path = modulePath();
    if (path.empty()) {
        std::fprintf(stderr, "clipvault-cli: the tool cannot find its own folder through "
                             "/proc/self/exe, where its module lies\n");
        return cli::kFailed;
    }
    // Bound as its functions are first called: most commands use a small part of Qt.
    void* module = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    const auto toolMain =
        module ? reinterpret_cast<ToolMain>(::dlsym(module, "clipvault_tool_main")) : nullptr;
    if (!toolMain) {
        std::fprintf(stderr, "clipvault-cli: the tool's module cannot be loaded: %s\n",
                     ::dlerror());
        return cli::kFailed;
    }
    return toolMain(argc, argv, gone.empty() ? nullptr : gone.c_str());
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
    return runToolModule(argc, argv, gone);
}
