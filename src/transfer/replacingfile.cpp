#include "replacingfile.h"

#include <cstdio>
#include <unistd.h>
#include <utility>

namespace transfer {

ReplacingWriter::ReplacingWriter(std::string target)
    : m_target(std::move(target))
{
}

ReplacingWriter::~ReplacingWriter()
{
    discard();
}

void ReplacingWriter::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_partPath.empty())
        ::unlink(m_partPath.c_str());
    m_partPath.clear();
    m_known.reset();
}

bool ReplacingWriter::write(std::string_view bytes, std::string* error)
{
    std::string failure = "nothing more is written after a failure";
    if (!m_failed && m_fd < 0 && m_partPath.empty())
        m_fd = CreatePartialFile(m_target, m_partPath, m_known, failure);
    if (!m_failed && m_fd >= 0) {
        if (WriteAll(m_fd, bytes)) {
            m_size += bytes.size();
            return true;
        }
        failure = SystemError("cannot write", m_partPath);
    }
    m_failed = true;
    discard();
    if (error)
        *error = failure;
    return false;
}

bool ReplacingWriter::commit(std::string* error)
{
    if (!write({}, error))
        return false;
    std::string failure;
    if (::fsync(m_fd) != 0)
        failure = SystemError("cannot write", m_partPath);
    ::close(std::exchange(m_fd, -1));
    if (failure.empty() && std::rename(m_partPath.c_str(), m_target.c_str()) == 0) {
        m_partPath.clear(); // it is the target now
        m_known.reset();
        return true;
    }
    if (failure.empty())
        failure = SystemError("cannot replace", m_target);
    m_failed = true;
    discard();
    if (error)
        *error = failure;
    return false;
}

bool WriteFileReplacing(const std::string& target, std::string_view bytes, std::string* error)
{
    ReplacingWriter writer(target);
    return writer.write(bytes, error) && writer.commit(error);
}

} // namespace transfer
