#pragma once

#include <QPoint>
#include <QString>

#include <cstdint>
#include <optional>

/// The 12-byte block "QARVEN_MOUSE" shared with the pointer-watch library: a flag at offset 0
/// (set by the library with each notification), then the pointer's x and y in screen pixels.
/// The block is created and zeroed when it does not exist; one that exists is opened as it is.
class SharedBlock final
{
public:
    explicit SharedBlock(const QString& name = QStringLiteral("/QARVEN_MOUSE"));
    ~SharedBlock();
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;

    bool isMapped() const { return m_block != nullptr; }
    /// Whether this object created the block (and zeroed it).
    bool created() const { return m_created; }

    /// The point the library stored; clears the flag so that the next move is reported.
    /// Nothing when the block is not mapped.
    std::optional<QPoint> takePoint();

private:
    std::int32_t* m_block = nullptr;
    bool m_created = false;
};
