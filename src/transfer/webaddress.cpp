#include "webaddress.h"

#include <cstring>

namespace transfer {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLowerAlphanumeric(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'z');
}

bool isUpperHex(char c)
{
    return isDigit(c) || (c >= 'A' && c <= 'F');
}

/// A decimal number without leading zeros, at most `max`.
bool isNumberUpTo(std::string_view text, long max)
{
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0'))
        return false;
    long value = 0;
    for (char c : text) {
        if (!isDigit(c))
            return false;
        value = value * 10 + (c - '0');
    }
    return value <= max;
}

/// Four dotted numbers of 0 to 255: any shorter or other form of an IPv4 address is rewritten.
bool isDottedQuad(std::string_view host)
{
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = host.find('.');
        if ((part < 3) == (dot == std::string_view::npos))
            return false;
        if (!isNumberUpTo(host.substr(0, dot), 255))
            return false;
        host.remove_prefix(part < 3 ? dot + 1 : host.size());
    }
    return true;
}

/// Lower-case labels of letters, digits and inner hyphens; none an encoded international one,
/// whose form the full encoding checks.
bool isPlainHostName(std::string_view host)
{
    while (true) {
        const std::size_t dot = host.find('.');
        const std::string_view label = host.substr(0, dot);
        if (label.empty() || label.front() == '-' || label.back() == '-' ||
            label.starts_with("xn--"))
            return false;
        for (char c : label) {
            if (!isLowerAlphanumeric(c) && c != '-')
                return false;
        }
        if (dot == std::string_view::npos)
            return true;
        host.remove_prefix(dot + 1);
    }
}

bool isPlainAuthority(std::string_view authority)
{
    std::string_view host = authority;
    if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        if (!isNumberUpTo(authority.substr(colon + 1), 65535) || authority.substr(colon + 1) == "0")
            return false;
        host = authority.substr(0, colon);
    }
    if (host.empty() || host.back() == '.')
        return false;
    const std::size_t lastDot = host.rfind('.');
    const char lastLabelStart = host[lastDot == std::string_view::npos ? 0 : lastDot + 1];
    return isDigit(lastLabelStart) ? isDottedQuad(host) : isPlainHostName(host);
}

/// An escape the full encoding keeps as written: upper-case hex, for a byte that is no letter,
/// digit or one of "-._~" (which it would write plainly).
bool isKeptEscape(char high, char low)
{
    if (!isUpperHex(high) || !isUpperHex(low))
        return false;
    const auto hexValue = [](char c) {
        return isDigit(c) ? c - '0' : c - 'A' + 10;
    };
    const char byte = static_cast<char>(hexValue(high) * 16 + hexValue(low));
    const bool unreserved = isDigit(byte) || (byte >= 'a' && byte <= 'z') ||
                            (byte >= 'A' && byte <= 'Z') || std::strchr("-._~", byte);
    return byte == 0 || !unreserved;
}

/// Path, query and fragment: printable ASCII but the few a URL may not hold, one "#" at most,
/// and escapes kept as written.
bool isPlainRest(std::string_view rest)
{
    bool inFragment = false;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c <= ' ' || c >= 0x7f || std::strchr("\"<>\\^`{|}", c))
            return false;
        if (c == '#') {
            if (inFragment)
                return false;
            inFragment = true;
        } else if (c == '%') {
            if (i + 2 >= rest.size() || !isKeptEscape(rest[i + 1], rest[i + 2]))
                return false;
            i += 2;
        }
    }
    return true;
}

} // namespace

bool IsEncodedWebAddress(std::string_view url)
{
    for (std::string_view scheme : {"http://", "https://"}) {
        if (!url.starts_with(scheme))
            continue;
        const std::string_view rest = url.substr(scheme.size());
        const std::size_t end = rest.find_first_of("/?#");
        return isPlainAuthority(rest.substr(0, end)) &&
               (end == std::string_view::npos || isPlainRest(rest.substr(end)));
    }
    return false;
}

} // namespace transfer
