#include "sharedblock.h"

#include "mouseblock.h"

#include <atomic>

SharedBlock::SharedBlock()
{
    mouseblock::Opened opened = mouseblock::Opened::Refused;
    m_block = mouseblock::map(true, &opened);
    // A fresh block is zero-filled by the system already; one that existed is left as it is.
    m_created = opened == mouseblock::Opened::Created;
}

SharedBlock::~SharedBlock()
{
    mouseblock::unmap(m_block);
}

QString SharedBlock::name()
{
    return QString::fromStdString(mouseblock::name());
}

std::optional<QPoint> SharedBlock::takePoint()
{
    if (!m_block)
        return std::nullopt;
    const QPoint point(m_block[1], m_block[2]);
    reinterpret_cast<std::atomic<std::int32_t>*>(m_block)->store(0);
    return point;
}
