#pragma once

#include "exitcodes.h"
#include "fetch.h"

#include <optional>
#include <string>

namespace cli {

/// How the tool asks for a movie, in the plain download and the full command alike: the whole
/// file with its size announced, a Flash movie unless any file is asked for (a page is no
/// movie), and a copy from a cache between is as good.
transfer::Request MovieRequest(std::string url, std::string fileName, bool anyFile);

/// Runs `clipvault-cli download URL FILE` without Qt when nothing more is asked: no option,
/// stderr no terminal (no progress line to draw), an address already encoded and a plain file
/// name. Its output, messages and exit code are the full command's. Nothing when the full
/// command must run instead; also after a failure that says the address is gone, which the full
/// command may answer from the web archive: `gone` then holds why, so that it does not ask the
/// address again.
std::optional<int> RunPlainDownload(int argc, char* argv[], std::string& gone);

} // namespace cli
