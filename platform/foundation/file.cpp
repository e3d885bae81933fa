#include "platform/foundation/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/foundation/error_text.h"
#include "platform/foundation/log.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/sd_ptr.h"

namespace platform {
namespace {

std::string dirName(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary files are named ".<name>.<pid>.XXXXXX". One left by a writer that was killed is
// removed by the next writer of the same file, so they never pile up.
void removeStaleTemporaries(const std::string& dir, const std::string& name) {
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(dir.c_str()), ::closedir);
    DIR* d = folder.get();
    if (!d) return;
    std::string prefix = "." + name + ".";
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the stream is this call's own; readdir is safe on distinct streams
    while (dirent* e = ::readdir(d)) {
        std::string_view entry(e->d_name);
        if (entry.size() <= prefix.size() + 7 || entry.substr(0, prefix.size()) != prefix) continue;
        std::string_view rest = entry.substr(prefix.size());
        auto dot = rest.find('.');
        if (dot == std::string_view::npos || dot == 0) continue;
        pid_t pid = 0;
        bool digits = true;
        for (char c : rest.substr(0, dot)) {
            if (c < '0' || c > '9') {
                digits = false;
                break;
            }
            pid = pid * 10 + (c - '0');
        }
        if (!digits || pid <= 0) continue;
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // its writer may still be at work
        ::unlinkat(::dirfd(d), e->d_name, 0);
    }
}

}  // namespace

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

namespace {

// Reads a file of at most maxSize bytes into buf (its capacity is reused). No fstat: a short
// read of a regular file is its end, so a small preference file costs open, read and close,
// like any plain read. A folder fails to read; anything endless stops at the cap.
bool readInto(const std::string& path, size_t maxSize, std::vector<uint8_t>& buf) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) return false;
    if (buf.capacity() < 16384) buf.reserve(16384);
    buf.resize(buf.capacity());
    size_t done = 0;
    bool ok = true;
    for (;;) {
        if (done == buf.size()) {
            if (buf.size() > maxSize) break;
            buf.resize(std::min(buf.size() * 2, maxSize + 1));
        }
        ssize_t n = ::read(fd.get(), buf.data() + done, buf.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
        if (n == 0 || done < buf.size()) break;  // the end (a pipe with nothing in it ends here too)
    }
    fd.reset();
    if (!ok || done > maxSize) return false;
    buf.resize(done);
    return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> readWholeFile(const std::string& path, size_t maxSize) {
    std::vector<uint8_t> bytes;
    if (!readInto(path, maxSize, bytes)) return std::nullopt;
    return bytes;
}

namespace {

// The file's bytes under the size cap; an oversized file is logged once per change of the file.
bool readPropertyListBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    if (readInto(path, kMaxPropertyListFileSize, bytes)) return true;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > kMaxPropertyListFileSize) {
        // Once per change of the file, not once per read: readers run on every item update.
        static std::mutex m;
        static FileIdentity last;
        FileIdentity id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<uint64_t>(st.st_size),
                        int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
        std::lock_guard lock(m);
        if (!(id == last)) {
            last = id;
            NSLog("Ignoring %s: %lld bytes is more than a preference file can be", path.c_str(),
                  static_cast<long long>(st.st_size));
        }
    }
    return false;
}

}  // namespace

std::optional<Dictionary> readDictionaryFile(const std::string& path) {
    thread_local std::vector<uint8_t> bytes;  // every item decision reads: keep the buffer
    if (!readPropertyListBytes(path, bytes)) return std::nullopt;
    auto value = parsePropertyList(bytes);
    if (!value || !value->isDictionary()) return std::nullopt;
    return std::move(*value->dictionary());
}

std::optional<Dictionary> readDictionaryFileKeys(const std::string& path, const std::vector<std::string_view>& keys) {
    thread_local std::vector<uint8_t> bytes;
    if (!readPropertyListBytes(path, bytes)) return std::nullopt;
    return parsePropertyListKeys(bytes, keys);
}

bool writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
    std::string dir = dirName(path), name = baseName(path);
    removeStaleTemporaries(dir, name);
    std::string tmpl = dir + "/." + name + "." + std::to_string(::getpid()) + ".XXXXXX";
    std::vector<char> tmp(tmpl.begin(), tmpl.end());
    tmp.push_back('\0');
    // mkstemp opens with O_EXCL: a link planted under the temporary name is never followed.
    Fd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (!fd) {
        int err = errno;
        NSLog("Could not write %s: %s", path.c_str(), errorText(err).c_str());
        errno = err;  // the caller tells its user why
        return false;
    }
    mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = ::fchmod(fd.get(), 0644 & ~mask & ~S_IWOTH) == 0 && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    ok = fd.close() && ok;
    if (ok && ::rename(tmp.data(), path.c_str()) != 0) ok = false;
    if (!ok) {
        int err = errno;
        ::unlink(tmp.data());
        NSLog("Could not write %s: %s", path.c_str(), errorText(err).c_str());
        errno = err;
        return false;
    }
    if (Fd dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dfd)
        ::fsync(dfd.get());  // the rename itself survives a power cut
    return true;
}

bool writeDictionaryFile(const std::string& path, const Dictionary& dict) {
    auto bytes = serializeBinaryPropertyList(Value(dict));
    if (!bytes) {
        NSLog("Could not serialise %s", path.c_str());
        return false;
    }
    return writeFileAtomically(path, *bytes);
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<uint64_t>(st.st_size),
                        int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
}

bool createDirectories(const std::string& path) {
    if (path.empty()) return false;
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool writeAll(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(int fd, std::string_view text) {
    return writeAll(fd, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

}  // namespace platform
