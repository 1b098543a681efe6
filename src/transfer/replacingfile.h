#pragma once

#include "partialfiles.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace transfer {

/// Whether a new file may take the place of one that stands at its name.
enum class Placing
{
    Replace,  ///< whatever stands there (a link included) is replaced, never written through
    NeverOver ///< a file or link there stays; the write fails instead
};

/// A file written piece by piece into a new partial file beside its target, and renamed to it
/// only once whole (commit); until then whatever stands at the target stays as it was. A writer
/// that goes uncommitted removes its partial file. Every file the program creates is written
/// so.
///
/// The folder a writer is given is opened as it is (the user chose it, or the program made it;
/// it is made when missing). Every folder between it and the file is opened, or made, without
/// following a link, so a link planted anywhere below never leads the file elsewhere.
class ReplacingWriter final
{
public:
    /// The file `target`, in its own folder.
    explicit ReplacingWriter(const std::string& target, Placing placing = Placing::Replace);
    /// The file at `below`, a relative path WhyNotBelow takes, inside `folder`.
    ReplacingWriter(std::string folder, std::string below, Placing placing = Placing::Replace);
    ~ReplacingWriter();
    ReplacingWriter(const ReplacingWriter&) = delete;
    ReplacingWriter& operator=(const ReplacingWriter&) = delete;

    /// Appends `bytes`, making the partial file on the first call. False with the reason in
    /// `error`; the writer is then of no more use.
    bool write(std::string_view bytes, std::string* error);
    /// Flushes the file to the disk and renames it to the target.
    bool commit(std::string* error);
    /// The bytes written so far.
    std::uint64_t size() const { return m_size; }
    /// Where the file is once committed.
    std::string target() const;

private:
    /// Opens the folders down to the file's and makes its partial file; -1 with the reason.
    int open(std::string& error);
    /// The folder the file goes in, opened below the given one; -1 with the reason.
    int openFolders(std::string& error);
    bool placeFile(std::string& error);
    void discard();

    std::string m_folder;
    std::string m_below;
    Placing m_placing;
    bool m_nameChecked = true; ///< false: `m_below` came from outside and is checked first
    std::string m_name;        ///< the file's own name, the last part of `m_below`
    std::string m_partName;
    std::string m_partPath;
    std::optional<PartialFile> m_known;
    int m_dir = -1; ///< the folder the file goes in
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
