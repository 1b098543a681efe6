#pragma once

#include <string_view>

namespace transfer {

/// Whether the text is an http or https address already in the form libcurl is given: lower-case
/// scheme and host name, or a dotted IPv4 address, an optional port, no user name, and a path,
/// query and fragment of characters a URL may hold with escapes that stand for no plain letter.
/// Such an address is handed over as it is written; any other goes through the full encoding
/// first. False is always safe: it only means the address takes the longer way.
bool IsEncodedWebAddress(std::string_view url);

} // namespace transfer
