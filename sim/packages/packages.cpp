#include "sim/packages/packages.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/error_text.h"
#include "platform/foundation/file.h"
#include "platform/foundation/log.h"
#include "platform/foundation/sd_ptr.h"
#include "platform/system/shell.h"
#include "sim/packages/deb_archive.h"
#include "sim/packages/dpkg_database.h"
#include "sim/common/safety.h"
#include "sim/common/sha256.h"

namespace vantrel::sim {
namespace {

// What the device holds at a path inside it: nothing, a folder, or something else; an error
// when a folder on the way is a link or no folder, as nothing is ever placed through one.
enum class Found { Nothing, Folder, Other };
Result<Found> lookAt(const DeviceFolder& device, const std::string& path) {
    std::string at = device.root;
    size_t from = 0;
    for (;;) {
        size_t slash = path.find('/', from);
        at += "/" + path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
        struct stat st;
        if (::lstat(at.c_str(), &st) != 0) {
            if (errno == ENOENT) return Found::Nothing;
            return failure("cannot inspect " + at + ": " + platform::errorText(errno));
        }
        if (slash == std::string::npos) return S_ISDIR(st.st_mode) ? Found::Folder : Found::Other;
        if (!S_ISDIR(st.st_mode))
            return failure(at + " is " + (S_ISLNK(st.st_mode) ? "a link" : "no folder") + ", so nothing is placed beneath it");
        from = slash + 1;
    }
}

// Everything the package would place, judged against the database and the device before
// anything is written.
Result<void> checkAgainstDevice(const DeviceFolder& device, const DebPackage& deb, const std::string& name,
                                const std::vector<Stanza>& packages) {
    const std::string arch = fieldOf(deb.control, "Architecture").value_or("");
    if (arch != VANTREL_ARCHITECTURE && arch != "all")
        return failure(name + " is built for \"" + arch + "\", and this device is " + VANTREL_ARCHITECTURE);
    for (const char* field : {"Pre-Depends", "Depends"})
        for (const auto& group : dependencyGroups(fieldOf(deb.control, field).value_or("")))
            if (std::none_of(group.begin(), group.end(), [&](const auto& n) { return findPackage(packages, n).has_value(); })) {
                std::string names;
                for (const auto& n : group) names += (names.empty() ? "" : " or ") + n;
                return failure(name + " depends on " + names + ", which is not installed on the device");
            }
    auto owners = TRY(ownersOfPaths(device, packages, name));
    // The device's own records and run state are no package's to replace.
    // Nor is the user's home: a package replacing a preference file (or putting a folder at its
    // lock's name) would take the user's settings.
    const std::string reserved[] = {"Library/Installed.plist", "device.plist", "var/lib/dpkg", "run", "var/log", "var/mobile"};
    for (const auto& member : deb.members) {
        if (member.path.empty()) continue;
        for (const std::string& own : reserved)
            if (member.path.rfind(own + "/", 0) == 0 || (member.path == own && member.type != DebMember::Type::Directory))
                return failure(name + " would place /" + member.path + ", which is the device's own");
        bool folder = member.type == DebMember::Type::Directory;
        auto owner = owners.find(member.path);
        if (!folder && owner != owners.end())
            return failure(name + " would overwrite /" + member.path + ", which belongs to " + owner->second);
        Found found = TRY(lookAt(device, member.path));
        if (folder && found == Found::Other)
            return failure(name + " has the folder /" + member.path + " where the device has a file");
        if (!folder && found == Found::Folder)
            return failure(name + " has the file /" + member.path + " where the device has a folder");
    }
    return {};
}

// A path inside the device as the folder above it ("" for the root) and its last name.
std::pair<std::string, std::string> splitPath(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {"", path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// The names in an opened folder, "." and ".." aside.
std::vector<std::string> namesIn(int folder) {
    std::vector<std::string> names;
    int copy = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    DIR* dir = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!dir) {
        if (copy >= 0) ::close(copy);
        return names;
    }
    ::rewinddir(dir);  // the copy shares the offset of every earlier listing
    while (dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    ::closedir(dir);
    return names;
}

// Removes a staging folder, relative to the folder holding it: its files and links, then itself.
// Staging never holds a folder, so none is descended into.
void removeStagingFolder(int parent, const std::string& name) {
    platform::Fd dir(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir) return;
    for (const auto& entry : namesIn(dir.get())) ::unlinkat(dir.get(), entry.c_str(), 0);
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

// The staging folder inside the device: files are written whole there, then renamed into place,
// so a running SpringBoard keeps the inode it loaded and a full disk changes nothing.
class Staging {
public:
    explicit Staging(const DeviceFolder& device) {
        auto dpkg = openFolderInside(device, "var/lib/dpkg");
        if (!dpkg) {
            error_ = dpkg.error().message;
            return;
        }
        dpkg_ = dpkg.release();
        // Staging folders of an install that was cut off: never read, only removed.
        for (const auto& name : namesIn(dpkg_.get()))
            if (name.rfind(".staging.", 0) == 0) removeStagingFolder(dpkg_.get(), name);
        std::string path = dpkgDirectory(device) + "/.staging.XXXXXX";
        if (!::mkdtemp(path.data())) {
            error_ = "cannot create a staging folder in " + dpkgDirectory(device) + ": " + platform::errorText(errno);
            return;
        }
        name_ = path.substr(path.rfind('/') + 1);
        dir_ = platform::Fd(::openat(dpkg_.get(), name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!dir_) error_ = "cannot open " + path + ": " + platform::errorText(errno);
    }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;
    ~Staging() {
        if (!name_.empty()) removeStagingFolder(dpkg_.get(), name_);
    }
    Result<void> ok() const {
        if (!error_.empty()) return failure(error_);
        return {};
    }
    int folder() const { return dir_.get(); }
    static std::string file(size_t index) { return std::to_string(index); }

private:
    platform::Fd dpkg_, dir_;
    std::string name_, error_;
};

// A file staged with its mode and the SHA-256 of its bytes.
Result<std::string> stageFile(const Staging& staging, size_t index, const DebMember& member) {
    const std::string name = Staging::file(index);
    platform::Fd fd(::openat(staging.folder(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    bool ok = fd && ::fchmod(fd.get(), (member.mode & 0755) | 0600) == 0 && platform::writeAll(fd.get(), member.data) &&
              ::fsync(fd.get()) == 0;
    if (!ok || !fd.close()) return failure("cannot stage /" + member.path + ": " + platform::errorText(errno));
    Sha256 sha;
    sha.update(reinterpret_cast<const uint8_t*>(member.data.data()), member.data.size());
    std::string digest = sha.hex();
    if (digest.empty()) return failure("cannot hash " + member.path);
    return digest;
}

// What the install record keeps for a link: the SHA-256 of its target.
std::string linkDigest(const std::string& target) {
    Sha256 sha;
    sha.update(reinterpret_cast<const uint8_t*>(target.data()), target.size());
    return sha.hex();
}

// The digest of what a folder holds at name now (a file's bytes, a link's target), nullopt for
// anything else.
std::optional<std::string> digestNow(int folder, const std::string& name, const struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        char target[PATH_MAX];
        ssize_t n = ::readlinkat(folder, name.c_str(), target, sizeof target);
        if (n < 0 || static_cast<size_t>(n) >= sizeof target) return std::nullopt;
        return linkDigest(std::string(target, static_cast<size_t>(n)));
    }
    if (!S_ISREG(st.st_mode)) return std::nullopt;
    platform::Fd file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat now;
    if (!file || ::fstat(file.get(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) return std::nullopt;
    return sha256OfDescriptor(file.get());
}

// Removes what a package owned and no other package owns, each relative to its folder opened
// without following links: files and links that still hold what the install record says install
// put there, then its folders that are left empty, deepest first. Gives the paths left because
// they changed (or were never recorded).
std::vector<std::string> removePaths(const DeviceFolder& device, const std::vector<std::string>& paths,
                                     const std::map<std::string, std::string>& owners,
                                     const std::map<std::string, std::string>& recorded) {
    std::vector<std::string> folders, kept;
    for (const auto& path : paths) {
        if (path.empty() || owners.count(path)) continue;
        auto [above, name] = splitPath(path);
        auto folder = openFolderInside(device, above);
        struct stat st;
        // Gone, or beneath a link or no folder: nothing there is the package's to take.
        if (!folder || ::fstatat(folder->get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            folders.push_back(path);
            continue;
        }
        auto digest = recorded.find(path);
        auto now = digestNow(folder->get(), name, st);
        if (digest != recorded.end() && now && *now == digest->second)
            ::unlinkat(folder->get(), name.c_str(), 0);
        else
            kept.push_back(path);
    }
    std::sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const auto& path : folders) {
        auto [above, name] = splitPath(path);
        if (auto folder = openFolderInside(device, above))
            ::unlinkat(folder->get(), name.c_str(), AT_REMOVEDIR);  // refused while not empty
    }
    return kept;
}

// The running SpringBoard's pid, if any.
std::optional<pid_t> springBoardPid(const DeviceFolder& device) {
    return readPid(device, device.springBoardPidFile(), "vantrel-springboard");
}

// After a respring: a new SpringBoard that answers on the device bus, within the timeout.
bool waitForNewSpringBoard(const DeviceFolder& device, pid_t old) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kRespringTimeout);
    while (std::chrono::steady_clock::now() < end) {
        auto now = springBoardPid(device);
        if (now && *now != old && control(device, "Ping", nullptr, 1.0, "org.freedesktop.DBus.Peer")) return true;
        ::usleep(50'000);
    }
    return false;
}

// Hands each command line of a maintainer script to the device shell, as its sh would run them
// one by one; nothing of it runs on this machine. Whether it restarted SpringBoard, and whether
// a new one answered within the timeout.
enum class ShellOutcome { Ran, Resprung, RespringNotBack };

ShellOutcome runOnDeviceShell(const DeviceFolder& device, const std::string& script) {
    std::optional<pid_t> before = springBoardPid(device);
    bool resprung = false;
    platform::setSpringBoardRestartHandler([&] { resprung = restartSpringBoard(device) || resprung; });
    platform::setLogFile(device.log());
    platform::setLogToStderr(false);
    size_t at = 0;
    while (at < script.size()) {
        size_t end = script.find('\n', at);
        std::string line = script.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? script.size() : end + 1;
        size_t b = line.find_first_not_of(" \t"), e = line.find_last_not_of(" \t\r");
        line = b == std::string::npos ? std::string() : line.substr(b, e - b + 1);
        if (line.empty() || line[0] == '#' || line == "set -e" || line == "exit 0") continue;
        platform::system(line);
    }
    platform::setLogToStderr(true);
    platform::setLogFile("");
    platform::setSpringBoardRestartHandler(nullptr);
    return resprung && before && !waitForNewSpringBoard(device, *before) ? ShellOutcome::RespringNotBack
           : resprung                                                    ? ShellOutcome::Resprung
                                                                         : ShellOutcome::Ran;
}

}  // namespace

std::string buildPackagePath() { return programLayout().packages() + "/" + VANTREL_PACKAGE; }

Result<PackageOutcome> installPackage(const DeviceFolder& device, const std::string& debPath, Postinst postinst) {
    if (!hasDatabase(device))
        return failure("the device at " + device.root + " is not laid out yet (" + deviceCommand(device, "install") +
                       " lays it out)");
    TRY(checkDeviceFolder(device));
    DebPackage deb = TRY(readDebPackage(debPath));
    PackageOutcome outcome{fieldOf(deb.control, "Package").value_or(""), fieldOf(deb.control, "Version").value_or(""),
                           fieldOf(deb.control, "Architecture").value_or("")};
    const std::string& name = outcome.name;
    std::vector<Stanza> packages = TRY(readStatus(device));
    TRY(checkAgainstDevice(device, deb, name, packages));
    std::vector<std::string> previous;
    if (findPackage(packages, name)) previous = TRY(readFileList(device, name));
    const std::map<std::string, std::string> recorded = TRY(readInstallRecord(device));

    Staging staging(device);
    TRY(staging.ok());
    std::map<std::string, std::string> digests;
    for (size_t i = 0; i < deb.members.size(); ++i) {
        const DebMember& m = deb.members[i];
        if (m.type == DebMember::Type::File) {
            digests[m.path] = TRY(stageFile(staging, i, m));
        } else if (m.type == DebMember::Type::Symlink) {
            if (::symlinkat(m.target.c_str(), staging.folder(), Staging::file(i).c_str()) != 0)
                return failure("cannot stage the link /" + m.path + ": " + platform::errorText(errno));
            digests[m.path] = linkDigest(m.target);
        }
    }
    // Every record the install writes, made and checked before anything is placed: one the
    // database or the record's readers would refuse refuses the package instead.
    std::map<std::string, std::string> record = recorded;
    for (const auto& path : previous) record.erase(path);
    for (const auto& [path, digest] : digests) record[path] = digest;
    std::vector<std::string> paths;
    for (const auto& m : deb.members) paths.push_back(m.path);
    Stanza stanza = deb.control;
    setField(stanza, "Status", "install ok installed", "Package");
    std::vector<Stanza> after = packages;
    auto same = std::find_if(after.begin(), after.end(), [&](const auto& s) { return fieldOf(s, "Package") == name; });
    if (same != after.end())
        *same = stanza;
    else
        after.push_back(stanza);
    auto refuse = [&](const Error& why) { return failure("refusing " + debPath + ": " + why.message); };
    if (auto bytes = encodeInstallRecord(record); !bytes) return refuse(bytes.error());
    if (auto list = formatFileList(paths); !list) return refuse(list.error());
    if (auto status = formatStatus(after); !status) return refuse(status.error());

    // Everything is staged: from here on only folders are made and whole files renamed, each
    // relative to its folder opened without following links.
    std::string at = "\n";  // the path of `folder`; no device path has a newline
    platform::Fd folder;
    bool placed = false;
    for (size_t i = 0; i < deb.members.size(); ++i) {
        const DebMember& m = deb.members[i];
        if (m.path.empty()) continue;  // the root is there
        auto [above, leaf] = splitPath(m.path);
        if (above != at) {
            if (placed) ::fsync(folder.get());  // the renames survive a power cut
            folder = TRY(openFolderInside(device, above));
            at = above, placed = false;
        }
        if (m.type == DebMember::Type::Directory) {
            if (::mkdirat(folder.get(), leaf.c_str(), (m.mode & 0755) | 0700) != 0 && errno != EEXIST)
                return failure("cannot create " + device.root + "/" + m.path + ": " + platform::errorText(errno));
            continue;
        }
        if (::renameat(staging.folder(), Staging::file(i).c_str(), folder.get(), leaf.c_str()) != 0)
            return failure("cannot place " + device.root + "/" + m.path + ": " + platform::errorText(errno));
        placed = true;
    }
    if (placed) ::fsync(folder.get());

    std::vector<std::string> dropped;
    for (const auto& path : previous)
        if (std::find(paths.begin(), paths.end(), path) == paths.end()) dropped.push_back(path);
    auto owners = TRY(ownersOfPaths(device, packages, name));
    outcome.kept = removePaths(device, dropped, owners, recorded);
    TRY(writeInstallRecord(device, record));
    TRY(writeFileList(device, name, paths));
    TRY(writeStatus(device, after));

    if (postinst == Postinst::Run && !deb.postinst.empty()) outcome.respring(runOnDeviceShell(device, deb.postinst));
    return outcome;
}

Result<PackageOutcome> removePackage(const DeviceFolder& device, const std::string& name) {
    TRY(checkDeviceFolder(device));
    std::vector<Stanza> packages = TRY(readStatus(device));
    auto stanza = findPackage(packages, name);
    if (!stanza) return failure(name + " is not installed on the device");
    for (const auto& other : packages) {
        std::string otherName = fieldOf(other, "Package").value_or("");
        if (otherName == name) continue;
        for (const char* field : {"Pre-Depends", "Depends"})
            for (const auto& group : dependencyGroups(fieldOf(other, field).value_or("")))
                if (std::find(group.begin(), group.end(), name) != group.end())
                    return failure("cannot remove " + name + ": " + otherName + " depends on it");
    }
    // Everything read, and the database it leaves checked, before anything is deleted.
    std::vector<std::string> paths = TRY(readFileList(device, name));
    auto owners = TRY(ownersOfPaths(device, packages, name));
    std::map<std::string, std::string> record = TRY(readInstallRecord(device));
    std::erase_if(packages, [&](const auto& s) { return fieldOf(s, "Package") == name; });
    TRY(formatStatus(packages));

    PackageOutcome outcome{name, fieldOf(*stanza, "Version").value_or(""), fieldOf(*stanza, "Architecture").value_or("")};
    outcome.kept = removePaths(device, paths, owners, record);
    for (const auto& path : paths)
        if (!owners.count(path)) record.erase(path);
    TRY(writeInstallRecord(device, record));
    TRY(writeStatus(device, packages));
    // A list left behind names no installed package, and the next install of it replaces it.
    (void)removeFileList(device, name);
    // What SpringBoard loaded is gone from the device: a running one starts again without it.
    outcome.respring(runOnDeviceShell(device, "killall SpringBoard\n"));
    return outcome;
}

// Package fields and archive names reach the terminal escaped: no control character of a
// package's is ever written to it raw.
}  // namespace vantrel::sim
