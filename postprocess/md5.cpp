#include "md5.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace {

// One fetched algorithm and one reusable context per thread: digests are taken
// for every shingle of every version, so per-call set-up would dominate.
struct Md5Context {
    EVP_MD* md = nullptr;
    EVP_MD_CTX* ctx = nullptr;

    Md5Context() {
        md = EVP_MD_fetch(nullptr, "MD5", nullptr);
        ctx = EVP_MD_CTX_new();
        if (md == nullptr || ctx == nullptr) throw std::runtime_error("MD5 is not available from libcrypto");
    }
    ~Md5Context() {
        EVP_MD_CTX_free(ctx);
        EVP_MD_free(md);
    }
    Md5Context(const Md5Context&) = delete;
    Md5Context& operator=(const Md5Context&) = delete;
};

}  // namespace

Md5Digest Md5(std::string_view bytes) {
    thread_local Md5Context c;
    Md5Digest digest{};
    unsigned int size = 0;
    if (EVP_DigestInit_ex(c.ctx, c.md, nullptr) != 1 || EVP_DigestUpdate(c.ctx, bytes.data(), bytes.size()) != 1 ||
        EVP_DigestFinal_ex(c.ctx, digest.data(), &size) != 1 || size != digest.size())
        throw std::runtime_error("MD5 digest failed");
    return digest;
}

std::string Md5Hex(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    const Md5Digest d = Md5(bytes);
    std::string hex(32, '0');
    for (std::size_t i = 0; i < d.size(); ++i) {
        hex[2 * i] = kHex[d[i] >> 4];
        hex[2 * i + 1] = kHex[d[i] & 15];
    }
    return hex;
}
