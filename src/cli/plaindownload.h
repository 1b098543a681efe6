#pragma once

#include <optional>
#include <string>

namespace cli {

/// Runs `clipvault-cli download URL FILE` without Qt when nothing more is asked: no option,
/// stderr no terminal (no progress line to draw), an address already encoded and a plain file
/// name. Its output, messages and exit code are the full command's. Nothing when the full
/// command must run instead; also after a failure that says the address is gone, which the full
/// command may answer from the web archive: `gone` then holds why, so that it does not ask the
/// address again.
std::optional<int> RunPlainDownload(int argc, char* argv[], std::string& gone);

} // namespace cli
