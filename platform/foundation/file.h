// Files as the Foundation calls on a device use them: whole-file reads with a size cap,
// atomic replacement (temporary file in the same folder, created exclusively, fsync, rename),
// and the file identity that tells whether someone else replaced a file. Failures come back
// as nullopt or false and are logged by the caller when it must; nothing throws.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace platform {

// No legitimate preference file is near this size; larger ones read as unreadable.
inline constexpr size_t kMaxPropertyListFileSize = 1 << 20;

bool fileExists(const std::string& path);

// Writes every byte, going on after EINTR and short writes; false on an error or a descriptor
// that takes nothing more.
bool writeAll(int fd, std::span<const uint8_t> bytes);
bool writeAll(int fd, std::string_view text);

// The whole content of a regular file of at most maxSize bytes, or nullopt.
std::optional<std::vector<uint8_t>> readWholeFile(const std::string& path, size_t maxSize);

// dictionaryWithContentsOfFile: a regular file under the size cap holding a property list whose
// root is a dictionary, else nullopt. An oversized file is logged once per change of the file.
std::optional<Dictionary> readDictionaryFile(const std::string& path);

// The same, keeping only the named keys (see parsePropertyListKeys).
std::optional<Dictionary> readDictionaryFileKeys(const std::string& path, const std::vector<std::string_view>& keys);

// writeToFile:atomically:YES. The old file stays whole on every failure; false is returned with
// errno saying why.
bool writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

// The binary property list of a dictionary, written atomically.
bool writeDictionaryFile(const std::string& path, const Dictionary& dict);

// Device, inode, modification time and size: equal identities mean nobody replaced the file.
struct FileIdentity {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t mtimeNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> fileIdentity(const std::string& path);

// mkdir -p with mode 0700 for new folders.
bool createDirectories(const std::string& path);

}  // namespace platform
