#include "confinedpath.h"

#include <climits>

namespace transfer {

namespace {

/// Deeper than any site's layout or a collection's folders; a name deeper still is a trap.
constexpr int kMostSegments = 64;

/// The length of the UTF-8 sequence at `at`, or 0 when it is not valid (overlong forms,
/// surrogates and values past U+10FFFF included).
std::size_t utf8Sequence(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned value = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    constexpr unsigned kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

/// Whether a segment is "." or ".." once its percent escapes ("%2e", "%2E") are read.
bool isDotSegment(std::string_view segment)
{
    std::size_t dots = 0;
    for (std::size_t i = 0; i < segment.size(); ++dots) {
        if (segment[i] == '.') {
            ++i;
        } else if (segment.substr(i, 3) == "%2e" || segment.substr(i, 3) == "%2E") {
            i += 3;
        } else {
            return false;
        }
    }
    return dots == 1 || dots == 2;
}

std::string whyNotSegment(std::string_view segment)
{
    if (segment.empty())
        return "an empty folder name";
    if (isDotSegment(segment))
        return "a \".\" or \"..\" in the name";
    if (segment.size() > NAME_MAX)
        return "a name longer than the file system takes";
    for (std::size_t at = 0; at < segment.size();) {
        const auto c = static_cast<unsigned char>(segment[at]);
        if (c < 0x20 || c == 0x7F)
            return "a control character in the name";
        if (c == '\\')
            return "a backslash in the name";
        const std::size_t length = utf8Sequence(segment, at);
        if (length == 0)
            return "a name that is not UTF-8";
        at += length;
    }
    return {};
}

} // namespace

std::string WhyNotBelow(std::string_view name)
{
    if (name.empty())
        return "an empty name";
    if (name.front() == '/')
        return "an absolute name";
    if (name.size() >= PATH_MAX)
        return "a name longer than the file system takes";
    int segments = 0;
    for (std::size_t start = 0;;) {
        const std::size_t slash = name.find('/', start);
        const std::string_view segment =
            name.substr(start, slash == std::string_view::npos ? name.npos : slash - start);
        if (std::string why = whyNotSegment(segment); !why.empty())
            return why;
        if (++segments > kMostSegments)
            return "a name nested deeper than any collection";
        if (slash == std::string_view::npos)
            return {};
        start = slash + 1;
    }
}

std::optional<std::string> PathBelow(const std::string& folder, std::string_view name,
                                     std::string* why)
{
    std::string reason = WhyNotBelow(name);
    if (!reason.empty()) {
        if (why)
            *why = std::move(reason);
        return std::nullopt;
    }
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

} // namespace transfer
