#include "plaindownload.h"

#include "exitcodes.h"
#include "webaddress.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// A file name the full command would take as it is written: printable ASCII, no empty, "." or
/// ".." part (which it would resolve) and no "-" in front (an option).
bool isPlainFileName(std::string_view name)
{
    if (name.empty() || name.front() == '-' || name.back() == '/')
        return false;
    for (char c : name) {
        if (c < ' ' || c >= 0x7f)
            return false;
    }
    const std::string wrapped = (name.front() == '/' ? "" : "/") + std::string(name) + '/';
    return wrapped.find("//") == std::string::npos && wrapped.find("/./") == std::string::npos &&
           wrapped.find("/../") == std::string::npos;
}

/// The full path of a plain file name, against the working folder; nothing when that is gone.
std::optional<std::string> absolutePath(std::string_view name)
{
    if (name.front() == '/')
        return std::string(name);
    std::string folder(4096, '\0');
    if (!::getcwd(folder.data(), folder.size()))
        return std::nullopt;
    folder.resize(folder.find('\0'));
    return (folder == "/" ? folder : folder + '/') + std::string(name);
}

class Unwatched final : public transfer::Watcher
{
public:
    bool cancelled() const override { return false; }
};

} // namespace

transfer::Request cli::MovieRequest(std::string url, std::string fileName, bool anyFile)
{
    transfer::Request request;
    request.url = std::move(url);
    request.fileName = std::move(fileName);
    request.binaryData = true;
    request.flashMovieOnly = !anyFile;
    request.useCache = true;
    return request;
}

std::optional<int> cli::RunPlainDownload(int argc, char* argv[], std::string& gone)
{
    if (argc != 4 || std::string_view(argv[1]) != "download" || ::isatty(STDERR_FILENO) == 1)
        return std::nullopt;
    const std::string_view url = argv[2];
    if (!transfer::IsEncodedWebAddress(url) || !isPlainFileName(argv[3]))
        return std::nullopt;
    const std::optional<std::string> file = absolutePath(argv[3]);
    if (!file)
        return std::nullopt;
    // A folder is no file to save into: said before anything is fetched, nothing left beside it.
    struct stat standing
    {
    };
    if (::stat(file->c_str(), &standing) == 0 && S_ISDIR(standing.st_mode)) {
        std::fprintf(stderr, "clipvault-cli: %s is a folder, not a file to save into\n",
                     file->c_str());
        return kFailed;
    }

    Unwatched unwatched;
    const transfer::Outcome outcome =
        transfer::Fetch(MovieRequest(std::string(url), *file, false), unwatched);
    if (outcome.succeeded) {
        std::printf("%lld\n", outcome.size);
        return kOk;
    }
    // The full command turns to the web archive, if it may, with what was learned here.
    if (outcome.addressGone) {
        gone = outcome.error;
        return std::nullopt;
    }
    std::fprintf(stderr, "clipvault-cli: %s: %s\n", argv[2], outcome.error.c_str());
    return kFailed;
}
