// SHA-256 of bytes read from an open file descriptor, as lowercase hex. The device records the
// digest of every library it installs and loads only files whose digest still matches, so the
// bytes hashed must be the bytes of the very inode that is loaded: hence a descriptor, not a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vantrel::sim {

class Sha256 {
public:
    Sha256();
    void update(const uint8_t* data, size_t size);
    std::string hex();  // finishes; the object is spent afterwards

private:
    void block(const uint8_t* p);
    uint32_t h_[8];
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    uint64_t length_ = 0;
};

// The digest of everything from offset 0 of fd (read with pread, the offset is left alone).
std::optional<std::string> sha256OfDescriptor(int fd);

}  // namespace vantrel::sim
