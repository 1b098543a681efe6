#pragma once

// What clipvault-cli ends with.
namespace cli {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

} // namespace cli
