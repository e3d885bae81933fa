#include "sim/common/sha256.h"

#include <openssl/evp.h>
#include <unistd.h>

namespace vantrel::sim {

void Sha256::Free::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) { ok_ = ctx_ && EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) == 1; }

void Sha256::update(const uint8_t* data, size_t size) {
    if (ok_ && size > 0) ok_ = EVP_DigestUpdate(ctx_.get(), data, size) == 1;
}

std::string Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok_ || EVP_DigestFinal_ex(ctx_.get(), digest, &length) != 1) return {};
    ok_ = false;
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 0xf];
    }
    return out;
}

std::optional<std::string> sha256OfDescriptor(int fd) {
    Sha256 sha;
    uint8_t buf[1 << 16];
    off_t at = 0;
    for (;;) {
        ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        sha.update(buf, static_cast<size_t>(n));
        at += n;
    }
    std::string digest = sha.hex();
    if (digest.empty()) return std::nullopt;
    return digest;
}

}  // namespace vantrel::sim
