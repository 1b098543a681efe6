#include "sha256.h"

#include <openssl/evp.h>

struct Sha256::Context
{
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
};

namespace {

/// The algorithm, looked up in the library's providers once: a lookup for every hash costs more
/// than hashing a small file.
const EVP_MD* sha256Algorithm()
{
    static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return algorithm ? algorithm : EVP_sha256();
}

} // namespace

Sha256::Sha256()
    : m_context(std::make_unique<Context>())
{
    EVP_DigestInit_ex(m_context->md, sha256Algorithm(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::addData(std::string_view bytes)
{
    EVP_DigestUpdate(m_context->md, bytes.data(), bytes.size());
}

std::string Sha256::hexResult()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context->md, digest, &length);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0xf];
    }
    return hex;
}
