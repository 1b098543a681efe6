#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <type_traits>

/// The program-wide settings: eleven one-byte flags (0 off, 1 on). "clipvault.opt" is an exact
/// image of this record.
struct OptionsRecord
{
    std::uint8_t reserved;
    std::uint8_t StartMinimized;
    std::uint8_t PauseMovieOnBar;
    std::uint8_t AutoStart;
    std::uint8_t NotifyTaskAdded;
    std::uint8_t NotifyTaskFinished;
    std::uint8_t NotifyTaskFailed;
    std::uint8_t XPStyle;
    std::uint8_t ShortcutBarEnabled;
    std::uint8_t HangingWindowVisible;
    std::uint8_t PreviewEnabled;
};
static_assert(std::is_standard_layout_v<OptionsRecord> && sizeof(OptionsRecord) == 11);
static_assert(offsetof(OptionsRecord, PreviewEnabled) == 10);

/// The settings of a first run, without options file.
OptionsRecord DefaultOptions();

enum class OptionsLoad
{
    Loaded,  ///< all eleven bytes read
    Missing, ///< no file: defaults, and the file is not created
    Short,   ///< the file held fewer bytes: those were taken, the rest are off
    Failed,  ///< the file exists but could not be read: defaults
};

/// Reads the options file into `options`.
OptionsLoad LoadOptions(const QString& path, OptionsRecord& options);

/// Writes the options file atomically. On failure returns false with the message for the user
/// in `error`; the previous file stays as it was.
bool SaveOptions(const QString& path, const OptionsRecord& options, QString* error = nullptr);
