#pragma once

#include <string>
#include <string_view>

// Small text helpers for the code below Qt, where bytes are ASCII protocol text.

/// The text without the ASCII white space at either end.
inline std::string_view Trimmed(std::string_view text)
{
    constexpr std::string_view kSpace = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

/// The text with its ASCII capitals made small.
inline std::string AsciiLower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}
