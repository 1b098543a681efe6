#pragma once

#include <QString>

#include <algorithm>

/// A Wayland desktop lets a program bring its window forward only with a token that stands for
/// the user's own action: a launcher's start, a global shortcut's press. Qt's Wayland plugin
/// takes the token from XDG_ACTIVATION_TOKEN when a window next asks to be activated, and
/// clears it.
namespace platform {

/// The token the desktop gave this start (a click on a launcher); empty when none.
inline QString launchActivationToken()
{
    return qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
}

/// Lends `token`, handed to this program by another start or by the desktop's portal, to the
/// window that next asks to come forward. Anything that is no token (empty, long, not plain
/// printable ASCII) is ignored.
inline void useActivationToken(const QString& token)
{
    constexpr qsizetype kMaxToken = 512;
    const bool plain = std::all_of(token.cbegin(), token.cend(), [](QChar c) {
        return c.unicode() > 0x20 && c.unicode() < 0x7f;
    });
    if (!token.isEmpty() && token.size() <= kMaxToken && plain)
        qputenv("XDG_ACTIVATION_TOKEN", token.toLatin1());
}

} // namespace platform
