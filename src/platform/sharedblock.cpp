#include "sharedblock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>

#include <QFile>

namespace {
constexpr std::size_t kBlockSize = 12;
}

SharedBlock::SharedBlock(const QString& name)
{
    const QByteArray path = QFile::encodeName(name);
    int fd = shm_open(path.constData(), O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        fd = shm_open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        m_created = fd >= 0;
        if (m_created && ftruncate(fd, kBlockSize) != 0) {
            close(fd);
            return;
        }
    }
    if (fd < 0)
        return;
    void* block = mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (block == MAP_FAILED)
        return;
    m_block = static_cast<std::int32_t*>(block);
    // A fresh block is zero-filled by the system already; one that existed is left as it is.
}

SharedBlock::~SharedBlock()
{
    if (m_block)
        munmap(m_block, kBlockSize);
}

std::optional<QPoint> SharedBlock::takePoint()
{
    if (!m_block)
        return std::nullopt;
    const QPoint point(m_block[1], m_block[2]);
    reinterpret_cast<std::atomic<std::int32_t>*>(m_block)->store(0);
    return point;
}
