#include "addresspolicy.h"

#include "proxysettings.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstdint>
#include <memory>
#include <optional>
#include <netdb.h>
#include <sys/socket.h>

namespace transfer {

namespace {

bool inwardV4(std::uint32_t a)
{
    const auto in = [a](std::uint32_t net, int bits) {
        return (a >> (32 - bits)) == (net >> (32 - bits));
    };
    return in(0x00000000, 8) ||  // this network, unspecified
           in(0x7F000000, 8) ||  // loopback
           in(0x0A000000, 8) ||  // private
           in(0xAC100000, 12) || // private
           in(0xC0A80000, 16) || // private
           in(0xA9FE0000, 16) || // link-local, cloud metadata
           in(0x64400000, 10) || // carrier-grade NAT
           in(0xE0000000, 4) ||  // multicast
           a == 0xFFFFFFFF;      // broadcast
}

bool inwardV6(const unsigned char* b)
{
    const bool zeroTo10 = std::all_of(b, b + 10, [](unsigned char x) { return x == 0; });
    if (zeroTo10 && b[10] == 0xFF && b[11] == 0xFF) // an IPv4 address written as IPv6
        return inwardV4(static_cast<std::uint32_t>(b[12]) << 24 |
                        static_cast<std::uint32_t>(b[13]) << 16 |
                        static_cast<std::uint32_t>(b[14]) << 8 | b[15]);
    const bool zeroTo15 =
        zeroTo10 && std::all_of(b + 10, b + 15, [](unsigned char x) { return x == 0; });
    return (zeroTo15 && b[15] <= 1) ||                // unspecified, loopback
           (b[0] & 0xFE) == 0xFC ||                   // unique-local
           (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) || // link-local
           b[0] == 0xFF;                              // multicast
}

bool inwardSocketAddress(const sockaddr* address)
{
    if (address->sa_family == AF_INET)
        return inwardV4(ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr));
    if (address->sa_family == AF_INET6)
        return inwardV6(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr);
    return true; // no address of the web
}

/// Whether the name resolves to an inward address, or to nothing at all.
bool resolvesInward(const std::string& host)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return true;
    bool inward = false;
    for (const addrinfo* entry = found; entry && !inward; entry = entry->ai_next)
        inward = inwardSocketAddress(entry->ai_addr);
    ::freeaddrinfo(found);
    return inward;
}

/// What an address is taken apart into for the checks: libcurl's reading of it.
struct Parts
{
    std::string scheme;
    std::string host; ///< without the brackets of an IPv6 literal
    std::string port; ///< the scheme's when the address names none
};

std::optional<Parts> partsOf(const std::string& url)
{
    CURLU* parsed = curl_url();
    char* scheme = nullptr;
    char* host = nullptr;
    char* port = nullptr;
    std::optional<Parts> parts;
    if (parsed && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
        parts = Parts{scheme, host, port};
        std::string& name = parts->host;
        if (name.size() > 2 && name.front() == '[' && name.back() == ']')
            name = name.substr(1, name.size() - 2);
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(parsed);
    return parts;
}

/// "host:port" of the parts of an http or https address, the host in lower case; empty else.
std::string originOf(const std::optional<Parts>& parts)
{
    if (!parts || (parts->scheme != "http" && parts->scheme != "https"))
        return {};
    std::string origin = parts->host + ':' + parts->port;
    std::transform(origin.begin(), origin.end(), origin.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return origin;
}

int checkConnection(void* user, char* primaryIp, char*, int primaryPort, int)
{
    PublicOnly& state = *static_cast<PublicOnly*>(user);
    char* url = nullptr;
    curl_easy_getinfo(state.curl, CURLINFO_EFFECTIVE_URL, &url); // this request's, redirects too
    const std::string address = url ? url : "";
    const std::optional<Parts> parts = partsOf(address);
    if (!state.allowedOrigin.empty() && originOf(parts) == state.allowedOrigin)
        return CURL_PREREQFUNC_OK;
    const std::string reached = std::string(primaryIp) + ':' + std::to_string(primaryPort);
    const bool proxied = !state.proxy.empty() && reached == state.proxy;
    const std::string host = parts ? parts->host : std::string();
    if (proxied ? !resolvesInward(host) : !IsInwardAddress(primaryIp))
        return CURL_PREREQFUNC_OK;
    state.refusal = "refused to fetch " + address + ": " + (proxied ? host : primaryIp) +
                    " is on this machine or its network";
    return CURL_PREREQFUNC_ABORT;
}

/// "ip:port" of the desktop's proxy, as a connection to it reports its address.
std::string proxyAddress()
{
    std::string host;
    std::string port;
    if (!ReadBrowserProxy(host, port) || host.empty())
        return {};
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* address = found->ai_addr;
    const void* raw =
        address->sa_family == AF_INET
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr)
            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
    ::inet_ntop(address->sa_family, raw, text, sizeof text);
    ::freeaddrinfo(found);
    return std::string(text) + ':' + port;
}

} // namespace

bool IsInwardAddress(std::string_view ip)
{
    const std::string text(ip);
    in_addr v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1)
        return inwardV4(ntohl(v4.s_addr));
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) == 1)
        return inwardV6(v6.s6_addr);
    return false;
}

std::string OriginOf(const std::string& url)
{
    return originOf(partsOf(url));
}

void RestrictToPublicAddresses(CURL* curl, PublicOnly& state)
{
    state.curl = curl;
    state.proxy = proxyAddress();
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, checkConnection);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, &state);
}

} // namespace transfer
