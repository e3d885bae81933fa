#include "sim/common/safety.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/foundation/error_text.h"
#include "platform/foundation/file.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/sd_ptr.h"
#include "sim/common/sha256.h"

namespace fs = std::filesystem;

namespace vantrel::sim {
namespace {

struct DirectoryStream {
    DIR* dir;
    explicit DirectoryStream(const std::string& path) : dir(::opendir(path.c_str())) {}
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;
    ~DirectoryStream() {
        if (dir) ::closedir(dir);
    }
};

std::string userName(uid_t uid) {
    passwd pw;
    passwd* found = nullptr;
    char buf[1024];
    std::string name = ::getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found ? pw.pw_name : "?";
    return name + " (uid " + std::to_string(uid) + ")";
}

std::string modeText(mode_t mode) {
    char text[8];
    (void)std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The folders the device creates, and whether what lies in them is checked too: everything
// it loads, runs or appends to. Preference files are not: they are read as untrusted data
// (anything that is no dictionary falls back) and always replaced, never written through.
std::vector<std::pair<std::string, bool>> deviceFolders(const DeviceFolder& d) {
    return {{d.root, true},
            {d.root + "/Library", true},
            {d.root + "/Library/MobileSubstrate", true},
            {d.dynamicLibraries(), true},
            {d.preferenceBundles(), true},
            {d.bundle(), true},
            {d.root + "/Library/PreferenceLoader", true},
            {d.preferenceLoaderEntries(), true},
            {d.root + "/var", true},
            {d.home(), false},
            {d.home() + "/Library", false},
            {d.home() + "/Library/Preferences", false},
            {d.root + "/var/log", true},
            {d.root + "/var/lib", true},
            {d.root + "/var/lib/dpkg", true},
            {d.root + "/var/lib/dpkg/info", true},
            {d.run(), true}};
}

// One path of the device: present or not, and if present the caller's alone.
Result<void> checkOwnEntry(const std::string& path, const struct stat& st, const std::string& prefix) {
    uid_t me = ::geteuid();
    if (S_ISLNK(st.st_mode)) return failure(prefix + path + " is a symbolic link");
    if (st.st_uid != me) return failure(prefix + path + " is owned by " + userName(st.st_uid) + ", not by you, " + userName(me));
    // A socket's mode says nothing: the folder it lives in keeps others out.
    if (!S_ISSOCK(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)))
        return failure(prefix + path + " is writable by group or others (mode " + modeText(st.st_mode) + ")");
    return {};
}

// Whether path exists, with its lstat in *st.
Result<bool> inspect(const std::string& path, struct stat* st, const std::string& prefix) {
    if (::lstat(path.c_str(), st) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR) return false;
    return failure(prefix + "cannot inspect " + path + ": " + platform::errorText(errno));
}

bool writableByOthers(const struct stat& st) { return st.st_mode & (S_IWGRP | S_IWOTH); }

// The path as the user gave it, component by component, before anything resolves it: a link on
// the way is trusted only when nobody else could have made or swapped it.
Result<void> checkGivenPath(const std::string& given, const std::string& prefix) {
    const uid_t me = ::geteuid();
    std::string path;
    size_t at = 0;
    while (at < given.size()) {
        size_t slash = given.find('/', at);
        std::string part = given.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        at = slash == std::string::npos ? given.size() : slash + 1;
        if (part.empty() || part == ".") continue;
        const std::string folder = path.empty() ? "/" : path;
        path += "/" + part;
        struct stat st;
        if (!TRY(inspect(path, &st, prefix))) return {};  // the rest is still to be made
        if (!S_ISLNK(st.st_mode)) continue;
        if (st.st_uid != 0 && st.st_uid != me)
            return failure(prefix + path + " is a symbolic link owned by " + userName(st.st_uid) +
                           ", neither by you nor by root");
        struct stat in;
        if (::stat(folder.c_str(), &in) != 0)
            return failure(prefix + "cannot inspect " + folder + ": " + platform::errorText(errno));
        if (writableByOthers(in) && !(in.st_mode & S_ISVTX))
            return failure(prefix + path + " is a symbolic link in " + folder + ", which others can write (mode " +
                           modeText(in.st_mode) + ")");
        if (writableByOthers(in) && st.st_uid != me)
            return failure(prefix + path + " is a symbolic link in the shared folder " + folder + " owned by " +
                           userName(st.st_uid) + ", not by you");
    }
    return {};
}

}  // namespace

Result<void> checkDeviceFolder(const DeviceFolder& device) {
    const std::string prefix = "refusing the device folder " + device.root + ": ";
    const uid_t me = ::geteuid();
    if (!device.given.empty()) TRY(checkGivenPath(device.given, prefix));
    // The parents: whoever can write one of them can swap the device folder for another.
    fs::path parent = fs::path(device.root).parent_path();
    for (;;) {
        struct stat st;
        if (TRY(inspect(parent.string(), &st, prefix))) {
            if (S_ISLNK(st.st_mode)) return failure(prefix + parent.string() + " is a symbolic link");
            if (st.st_uid != 0 && st.st_uid != me)
                return failure(prefix + "its parent " + parent.string() + " is owned by " + userName(st.st_uid));
            if (writableByOthers(st) && !(st.st_mode & S_ISVTX))
                return failure(prefix + "its parent " + parent.string() + " is writable by group or others (mode " +
                               modeText(st.st_mode) + ")");
        }
        if (parent == parent.root_path() || parent.empty()) break;
        parent = parent.parent_path();
    }
    for (const auto& [folder, entriesToo] : deviceFolders(device)) {
        struct stat st;
        if (!TRY(inspect(folder, &st, prefix))) continue;
        TRY(checkOwnEntry(folder, st, prefix));
        if (!S_ISDIR(st.st_mode)) return failure(prefix + folder + " is not a folder");
        if (!entriesToo) continue;
        DirectoryStream dir(folder);
        if (!dir.dir) return failure(prefix + "cannot read " + folder + ": " + platform::errorText(errno));
        while (dirent* e = ::readdir(dir.dir)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "/" + name;
            if (TRY(inspect(path, &st, prefix))) TRY(checkOwnEntry(path, st, prefix));
        }
    }
    return {};
}

Result<void> checkTrustedPath(const std::string& path) {
    const std::string prefix = "refusing " + path + ": ";
    const uid_t me = ::geteuid();
    fs::path at(path);
    for (bool first = true;; first = false) {
        struct stat st;
        if (!TRY(inspect(at.string(), &st, prefix))) return failure(prefix + at.string() + " does not exist");
        if (S_ISLNK(st.st_mode)) return failure(prefix + at.string() + " is a symbolic link");
        if (st.st_uid != 0 && st.st_uid != me) return failure(prefix + at.string() + " is owned by " + userName(st.st_uid));
        // Others may share a sticky folder, never the file itself or a folder they could swap it in.
        if (writableByOthers(st) && (first || !(st.st_mode & S_ISVTX)))
            return failure(prefix + at.string() + " is writable by group or others (mode " + modeText(st.st_mode) + ")");
        if (at == at.root_path() || at.empty()) return {};
        at = at.parent_path();
    }
}

Result<std::string> companionProgram(const std::string& name) {
    ProgramLayout layout = programLayout();
    std::string program = layout.program(name);
    TRY(checkTrustedPath(program));
    TRY(checkTrustedPath(layout.libraries()));
    return program;
}

Result<void> checkSocketPath(const DeviceFolder& device) {
    const std::string socket = device.run() + "/bus.socket";
    if (socket.size() < sizeof(sockaddr_un::sun_path)) return {};
    return failure("the device folder's path is too long: its bus socket " + socket + " would take " +
                   std::to_string(socket.size()) + " bytes, more than the " + std::to_string(sizeof(sockaddr_un::sun_path) - 1) +
                   " a unix socket allows; use a shorter folder");
}

std::map<std::string, std::string> installedFiles(const DeviceFolder& device) {
    std::map<std::string, std::string> files;
    auto record = platform::readDictionaryFile(device.installRecord());
    if (!record) return files;
    for (const auto& [path, digest] : *record)
        if (digest.string()) files[path] = *digest.string();
    return files;
}

bool recordInstalledFiles(const DeviceFolder& device, const std::map<std::string, std::string>& files) {
    return static_cast<bool>(writeInstallRecord(device, files));
}

Result<std::map<std::string, std::string>> readInstallRecord(const DeviceFolder& device) {
    const std::string path = device.installRecord();
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return std::map<std::string, std::string>{};
    auto record = platform::readDictionaryFile(path);
    if (!record)
        return failure("cannot read " + path + " (damaged, or over " + std::to_string(platform::kMaxPropertyListFileSize >> 10) +
                       " KB); nothing was changed");
    std::map<std::string, std::string> files;
    for (const auto& [file, digest] : *record)
        if (digest.string()) files[file] = *digest.string();
    return files;
}

Result<std::vector<uint8_t>> encodeInstallRecord(const std::map<std::string, std::string>& files) {
    platform::Dictionary record;
    for (const auto& [path, digest] : files) record[path] = digest;
    auto bytes = platform::serializeBinaryPropertyList(platform::Value(record));
    if (!bytes) return failure("the install record cannot be encoded");
    // Its readers take no larger property list: a record over it would be lost on the next read.
    if (bytes->size() > platform::kMaxPropertyListFileSize)
        return failure("the install record would grow to " + std::to_string(bytes->size() >> 10) + " KB, over the " +
                       std::to_string(platform::kMaxPropertyListFileSize >> 10) + " KB it can be");
    return std::move(*bytes);
}

Result<void> writeInstallRecord(const DeviceFolder& device, const std::map<std::string, std::string>& files) {
    auto bytes = encodeInstallRecord(files);
    if (!bytes) return failure("refusing to write " + device.installRecord() + ": " + bytes.error().message);
    if (!platform::writeFileAtomically(device.installRecord(), *bytes))
        return failure("cannot write " + device.installRecord() + ": " + platform::errorText(errno));
    return {};
}

Result<void*> loadInstalled(const DeviceFolder& device, const std::string& relativePath, bool byDescriptor) {
    const std::string path = device.root + "/" + relativePath;
    auto files = installedFiles(device);
    auto recorded = files.find(relativePath);
    if (recorded == files.end()) return failure(path + " is not a file the device installed");
    std::vector<std::string> parts;
    for (const auto& part : fs::path(relativePath)) parts.push_back(part.string());
    for (const auto& part : parts)
        if (part.empty() || part == "." || part == ".." || part == "/")
            return failure(path + " is not a plain path inside the device");
    // Component by component from the checked folder: no link is followed on the way.
    platform::Fd dir(::open(device.root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    for (size_t i = 0; dir && i + 1 < parts.size(); ++i)
        dir = platform::Fd(::openat(dir.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    platform::Fd file(!dir ? -1 : ::openat(dir.get(), parts.back().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!file || ::fstat(file.get(), &st) != 0)
        return failure("cannot open " + path + " without following links: " + platform::errorText(errno));
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)))
        return failure(path + " is not a regular file of yours that only you can write");
    auto digest = sha256OfDescriptor(file.get());
    if (!digest || *digest != recorded->second) return failure(path + " does not match what install recorded");
    std::string loadPath = "/proc/self/fd/" + std::to_string(file.get());
    if (!byDescriptor) {
        struct stat now;
        if (::stat(path.c_str(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino)
            return failure(path + " was replaced while it was checked");
        loadPath = path;
    }
    void* handle = ::dlopen(loadPath.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!handle) {
        const char* why = ::dlerror();
        return failure("cannot load " + path + ": " + (why ? why : "unknown error"));
    }
    return handle;
}

std::string printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            (void)std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

std::string displayable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned c) {
        char hex[8];
        (void)std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += hex;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
        if (c < 0x20 || c == 0x7f)
            escape(c);
        else if (c == 0xc2 && next >= 0x80 && next <= 0x9f)
            escape(next), ++i;  // U+0080-U+009F
        else
            out += static_cast<char>(c);
    }
    return out;
}

}  // namespace vantrel::sim
