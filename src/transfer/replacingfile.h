#pragma once

#include "partialfiles.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace transfer {

/// A file written piece by piece into a new partial file beside `target`, and renamed over it
/// only once whole (commit): whatever stands at `target` (a link included) is replaced, never
/// written through, and until then it stays as it was. A writer that goes uncommitted removes
/// its partial file.
class ReplacingWriter final
{
public:
    explicit ReplacingWriter(std::string target);
    ~ReplacingWriter();
    ReplacingWriter(const ReplacingWriter&) = delete;
    ReplacingWriter& operator=(const ReplacingWriter&) = delete;

    /// Appends `bytes`, making the partial file on the first call. False with the reason in
    /// `error`; the writer is then of no more use.
    bool write(std::string_view bytes, std::string* error);
    /// Flushes the file to the disk and renames it over the target.
    bool commit(std::string* error);
    /// The bytes written so far.
    std::uint64_t size() const { return m_size; }

private:
    void discard();

    std::string m_target;
    std::string m_partPath;
    std::optional<PartialFile> m_known;
    int m_fd = -1;
    bool m_failed = false;
    std::uint64_t m_size = 0;
};

/// Writes `bytes` to a new partial file beside `target` and renames it over `target`, as a
/// transfer's body is: whatever stands at `target` (a link included) is replaced, never written
/// through, and a failure leaves it as it was. False with the reason in `error`.
bool WriteFileReplacing(const std::string& target, std::string_view bytes,
                        std::string* error = nullptr);

} // namespace transfer
