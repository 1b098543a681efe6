#pragma once

// Where the launcher finds the programs of the package: header-only, since the launcher links no
// library of the project's and the page scanner links little.

#include <unistd.h>

#include <cstddef>
#include <string>

namespace cli {

/// A file of the package beside the running program (`name`: its path from that program's
/// folder), where the build tree and the installed package both put it; empty when the program
/// cannot tell where it lies. Never a place relative to the working folder, which may be
/// anyone's.
inline std::string BesideSelf(const char* name)
{
    std::string self(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= self.size() || self[0] != '/')
        return {};
    self.resize(static_cast<std::size_t>(length));
    return self.substr(0, self.rfind('/') + 1) + name;
}

} // namespace cli
