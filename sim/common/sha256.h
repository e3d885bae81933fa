// SHA-256 of bytes (OpenSSL's libcrypto underneath), as lowercase hex. The device records the
// digest of every library it installs and loads only files whose digest still matches, so the
// bytes hashed must be the bytes of the very inode that is loaded: hence a descriptor, not a path.
// Owns its digest context; failures of the library come back as an empty digest, never thrown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct evp_md_ctx_st;

namespace vantrel::sim {

class Sha256 {
public:
    Sha256();
    void update(const uint8_t* data, size_t size);
    std::string hex();  // finishes; the object is spent afterwards ("" when the library failed)

private:
    struct Free {
        void operator()(evp_md_ctx_st* ctx) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> ctx_;
    bool ok_ = false;
};

// The digest of everything from offset 0 of fd (read with pread, the offset is left alone).
std::optional<std::string> sha256OfDescriptor(int fd);

}  // namespace vantrel::sim
