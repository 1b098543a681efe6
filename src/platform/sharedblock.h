#pragma once

#include <QPoint>
#include <QString>

#include <cstdint>
#include <optional>

/// The 12-byte block shared with the pointer-watch library: a flag at offset 0 (set by the
/// library with each notification), then the pointer's x and y in screen pixels. It is a file
/// in a folder only this user can create names in, named for the display and the data folder
/// (see PathFor). It is created when it does not exist; one of this user's that exists is
/// opened (grown when too small); anything else under the name is never mapped. Mapping it
/// clears the flag: a flag left standing by a notification that never arrived would otherwise
/// keep the library from reporting again.
class SharedBlock final
{
public:
    explicit SharedBlock(const QString& path);
    ~SharedBlock();
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;

    /// The block's path for the program on `display` with `dataFolder`; empty when there is no
    /// folder only this user can create names in.
    static QString PathFor(const QString& display, const QString& dataFolder);

    bool isMapped() const { return m_block != nullptr; }
    /// Whether this object created the block (and zeroed it).
    bool created() const { return m_created; }
    const QString& path() const { return m_path; }

    /// Lets the library report the next move, whether or not a point is waiting.
    void clearFlag();
    /// The point the library stored; clears the flag so that the next move is reported.
    /// Nothing when the block is not mapped.
    std::optional<QPoint> takePoint();

private:
    QString m_path;
    std::int32_t* m_block = nullptr;
    bool m_created = false;
};
