#pragma once

// What clipvault-cli ends with, and what its launcher tells the tool.
namespace cli {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

/// Leads the tool's arguments, followed by why the launcher found a plain download's address
/// gone, so that the tool does not ask it again.
inline constexpr char kLauncherFoundGone[] = "--launcher-found-gone";

} // namespace cli
