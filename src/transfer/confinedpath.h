#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace transfer {

/// Why `name` cannot stand for a file below a folder, or empty when it can. A name taken from
/// an archive, a bundle's description, a manifest or a web address is a relative path of plain
/// names: never absolute, no "." or ".." (nor their percent-encoded forms), no empty segment,
/// no NUL or other control character, no backslash, valid UTF-8 (an overlong form of "/" or "."
/// is not), no segment longer than the file system takes, and not deeper than a collection is.
std::string WhyNotBelow(std::string_view name);

/// `folder` + "/" + `name` when `name` passes WhyNotBelow; nothing, with the reason in `why`,
/// when it does not. Every name an import, a capture or an unpacking takes from outside
/// becomes a path through here before anything is written.
std::optional<std::string> PathBelow(const std::string& folder, std::string_view name,
                                     std::string* why = nullptr);

} // namespace transfer
