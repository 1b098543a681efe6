#pragma once

#include <curl/curl.h>

#include <string>
#include <string_view>

// Which addresses a fetch that a movie's own content causes may reach: the public web, and the
// very site the movie came from. A movie must never read the web services of the user's machine
// or network (a router's page, a cloud machine's metadata) and carry them out.
namespace transfer {

/// Whether an IP address, as text, is of this machine or its network: loopback, unspecified,
/// private (RFC 1918), link-local (where cloud machines answer their metadata), carrier-grade
/// NAT, broadcast, multicast, and IPv6's unique-local and link-local ranges (an IPv4 address
/// written as IPv6 is judged as IPv4). Text that is no address is not.
bool IsInwardAddress(std::string_view ip);

/// "host:port" of an absolute http or https address: the host in lower case, the scheme's port
/// when it names none. Empty for anything else.
std::string OriginOf(const std::string& url);

/// What a transfer restricted to the public web needs while it runs.
struct PublicOnly
{
    std::string allowedOrigin; ///< "host:port" reached wherever it lies; empty: none
    std::string proxy;         ///< "ip:port" of the proxy in use, empty when none
    std::string refusal;       ///< why a connection was refused, once one was
    CURL* curl = nullptr;      ///< the transfer's handle
};

/// Restricts the transfer to public addresses, but for `state.allowedOrigin`: every connection,
/// redirects included, is checked at the address it actually reached (after the name was
/// resolved), before anything is sent; through a proxy, at the addresses the name resolves to.
/// A refused connection ends the transfer with `state.refusal` set. `state` outlives the transfer.
void RestrictToPublicAddresses(CURL* curl, PublicOnly& state);

} // namespace transfer
