#pragma once

#include <QPoint>
#include <QString>

#include <cstdint>
#include <optional>

/// The 12-byte block shared with the pointer-watch library, one per user ("/QARVEN_MOUSE.<uid>"):
/// a flag at offset 0 (set by the library with each notification), then the pointer's x and y in
/// screen pixels. The block is created and zeroed when it does not exist; one of this user's
/// that exists is opened as it is (grown when too small); another user's is never mapped.
class SharedBlock final
{
public:
    SharedBlock();
    ~SharedBlock();
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;

    bool isMapped() const { return m_block != nullptr; }
    /// Whether this object created the block (and zeroed it).
    bool created() const { return m_created; }
    /// The block's name for this user.
    static QString name();

    /// The point the library stored; clears the flag so that the next move is reported.
    /// Nothing when the block is not mapped.
    std::optional<QPoint> takePoint();

private:
    std::int32_t* m_block = nullptr;
    bool m_created = false;
};
