#pragma once

#include <memory>
#include <string>
#include <string_view>

/// SHA-256 as the system's cryptography library computes it (with the processor's own
/// instructions where it has them): several times faster than a portable one, which matters
/// when every kept file and every downloaded movie is hashed as it is written.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void addData(std::string_view bytes);
    /// The digest in hex; the hash cannot take more data afterwards.
    std::string hexResult();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};
