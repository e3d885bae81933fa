#include "sim/device/packages.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/log.h"
#include "platform/foundation/sd_ptr.h"
#include "platform/system/shell.h"
#include "sim/device/deb_archive.h"
#include "sim/device/dpkg_database.h"
#include "sim/device/json.h"
#include "sim/device/safety.h"
#include "sim/device/sha256.h"

namespace fs = std::filesystem;

namespace vantrel::sim {
namespace {

constexpr double kRespringTimeout = 20.0;

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n, size -= static_cast<size_t>(n);
    }
    return true;
}

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
            return failure("cannot inspect " + at + ": " + std::strerror(errno));
        }
        if (slash == std::string::npos) return S_ISDIR(st.st_mode) ? Found::Folder : Found::Other;
        if (!S_ISDIR(st.st_mode)) return failure(at + " is " + (S_ISLNK(st.st_mode) ? "a link" : "no folder") + ", so nothing is placed beneath it");
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
    const std::string reserved[] = {"Library/Installed.plist", "device.plist", "var/lib/dpkg", "run", "var/log"};
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
        if (folder && found == Found::Other) return failure(name + " has the folder /" + member.path + " where the device has a file");
        if (!folder && found == Found::Folder) return failure(name + " has the file /" + member.path + " where the device has a folder");
    }
    return {};
}

// The staging folder inside the device: files are written whole there, then renamed into place,
// so a running SpringBoard keeps the inode it loaded and a full disk changes nothing.
class Staging {
public:
    explicit Staging(const DeviceFolder& device) : path_(dpkgDirectory(device) + "/.staging.XXXXXX") {
        if (!::mkdtemp(path_.data())) path_.clear();
    }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;
    ~Staging() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    bool ok() const { return !path_.empty(); }
    std::string file(size_t index) const { return path_ + "/" + std::to_string(index); }

private:
    std::string path_;
};

// A file staged with its mode and the SHA-256 of its bytes.
Result<std::string> stageFile(const std::string& path, const DebMember& member) {
    platform::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    bool ok = fd && ::fchmod(fd.get(), (member.mode & 0755) | 0600) == 0 && writeAll(fd.get(), member.data.data(), member.data.size()) &&
              ::fsync(fd.get()) == 0;
    if (!ok || !fd.close()) return failure("cannot write " + path + ": " + std::strerror(errno));
    Sha256 sha;
    sha.update(reinterpret_cast<const uint8_t*>(member.data.data()), member.data.size());
    std::string digest = sha.hex();
    if (digest.empty()) return failure("cannot hash " + member.path);
    return digest;
}

void syncFolder(const std::string& path) {
    platform::Fd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
}

// Removes what a package owned and no other package owns: files and links, then its folders
// that are left empty, deepest first.
void removePaths(const DeviceFolder& device, const std::vector<std::string>& paths, const std::map<std::string, std::string>& owners) {
    std::vector<std::string> folders;
    for (const auto& path : paths) {
        if (path.empty() || owners.count(path)) continue;
        const std::string full = device.root + "/" + path;
        struct stat st;
        if (::lstat(full.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) folders.push_back(full);
        else ::unlink(full.c_str());
    }
    std::sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const auto& folder : folders) ::rmdir(folder.c_str());  // refused while not empty
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
// one by one; nothing of it runs on this machine. True when it restarted SpringBoard.
bool runOnDeviceShell(const DeviceFolder& device, const std::string& script) {
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
    if (resprung && before && !waitForNewSpringBoard(device, *before))
        std::cerr << "vantrel-device: SpringBoard did not come back within " << kRespringTimeout << " s (./vantrel device log)\n";
    return resprung;
}

// The install record keeps digests for every package's files, and for what others put there.
bool updateInstallRecord(const DeviceFolder& device, const std::vector<std::string>& gone,
                         const std::map<std::string, std::string>& added) {
    auto files = installedFiles(device);
    for (const auto& path : gone) files.erase(path);
    for (const auto& [path, digest] : added) files[path] = digest;
    return recordInstalledFiles(device, files);
}

}  // namespace

std::string buildPackagePath() { return buildDirectory() + "/packages/" + VANTREL_PACKAGE; }

Result<PackageOutcome> installPackage(const DeviceFolder& device, const std::string& debPath, Postinst postinst) {
    if (!hasDatabase(device))
        return failure("the device at " + device.root + " is not laid out yet (vantrel-device install lays it out)");
    TRY(checkDeviceFolder(device));
    DebPackage deb = TRY(readDebPackage(debPath));
    PackageOutcome outcome{fieldOf(deb.control, "Package").value_or(""), fieldOf(deb.control, "Version").value_or(""),
                           fieldOf(deb.control, "Architecture").value_or("")};
    const std::string& name = outcome.name;
    std::vector<Stanza> packages = TRY(readStatus(device));
    TRY(checkAgainstDevice(device, deb, name, packages));
    std::vector<std::string> previous;
    if (findPackage(packages, name)) previous = readFileList(device, name).valueOr({});

    // Staging folders of an install that was cut off: never read, only removed.
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dpkgDirectory(device), ec))
        if (e.path().filename().string().rfind(".staging.", 0) == 0) fs::remove_all(e.path(), ec);
    Staging staging(device);
    if (!staging.ok()) return failure("cannot create a staging folder in " + dpkgDirectory(device) + ": " + std::strerror(errno));
    std::map<std::string, std::string> digests;
    for (size_t i = 0; i < deb.members.size(); ++i) {
        const DebMember& m = deb.members[i];
        if (m.type == DebMember::Type::File) digests[m.path] = TRY(stageFile(staging.file(i), m));
        else if (m.type == DebMember::Type::Symlink && ::symlink(m.target.c_str(), staging.file(i).c_str()) != 0)
            return failure("cannot stage the link /" + m.path + ": " + std::strerror(errno));
    }
    // Everything is staged: from here on only folders are made and whole files renamed.
    std::set<std::string> folders;
    for (size_t i = 0; i < deb.members.size(); ++i) {
        const DebMember& m = deb.members[i];
        const std::string full = m.path.empty() ? device.root : device.root + "/" + m.path;
        if (m.type == DebMember::Type::Directory) {
            if (::mkdir(full.c_str(), (m.mode & 0755) | 0700) != 0 && errno != EEXIST)
                return failure("cannot create " + full + ": " + std::strerror(errno));
            continue;
        }
        if (::rename(staging.file(i).c_str(), full.c_str()) != 0)
            return failure("cannot place " + full + ": " + std::strerror(errno));
        folders.insert(fs::path(full).parent_path().string());
    }
    for (const auto& folder : folders) syncFolder(folder);

    std::vector<std::string> paths;
    for (const auto& m : deb.members) paths.push_back(m.path);
    std::vector<std::string> dropped;
    for (const auto& path : previous)
        if (std::find(paths.begin(), paths.end(), path) == paths.end()) dropped.push_back(path);
    auto owners = TRY(ownersOfPaths(device, packages, name));
    removePaths(device, dropped, owners);
    if (!updateInstallRecord(device, previous, digests)) return failure("cannot write " + device.installRecord());
    TRY(writeFileList(device, name, paths));
    Stanza record = deb.control;
    setField(record, "Status", "install ok installed", "Package");
    auto same = std::find_if(packages.begin(), packages.end(), [&](const auto& s) { return fieldOf(s, "Package") == name; });
    if (same != packages.end()) *same = record;
    else packages.push_back(record);
    TRY(writeStatus(device, packages));

    if (postinst == Postinst::Run && !deb.postinst.empty()) outcome.resprung = runOnDeviceShell(device, deb.postinst);
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
    std::vector<std::string> paths = readFileList(device, name).valueOr({});
    auto owners = TRY(ownersOfPaths(device, packages, name));
    removePaths(device, paths, owners);
    if (!updateInstallRecord(device, paths, {})) return failure("cannot write " + device.installRecord());
    removeFileList(device, name);
    std::erase_if(packages, [&](const auto& s) { return fieldOf(s, "Package") == name; });
    TRY(writeStatus(device, packages));
    PackageOutcome outcome{name, fieldOf(*stanza, "Version").value_or(""), fieldOf(*stanza, "Architecture").value_or("")};
    // What SpringBoard loaded is gone from the device: a running one starts again without it.
    outcome.resprung = runOnDeviceShell(device, "killall SpringBoard\n");
    return outcome;
}

int installPackageCommand(const DeviceFolder& device, const std::string& debPath) {
    ControlLock lock(device, true);
    if (!lock.held()) {
        std::cerr << "vantrel-device: " << lock.error() << "\n";
        return 1;
    }
    auto installed = installPackage(device, debPath, Postinst::Run);
    if (!installed) {
        std::cerr << "vantrel-device: " << installed.error().message << "\n";
        return 1;
    }
    std::cout << "installed " << installed->name << " " << installed->version << " (" << installed->architecture << ") in "
              << device.root << (installed->resprung ? "; SpringBoard restarted" : "") << "\n";
    return 0;
}

int removePackageCommand(const DeviceFolder& device, const std::string& name) {
    ControlLock lock(device, true);
    if (!lock.held()) {
        std::cerr << "vantrel-device: " << lock.error() << "\n";
        return 1;
    }
    auto removed = removePackage(device, name);
    if (!removed) {
        std::cerr << "vantrel-device: " << removed.error().message << "\n";
        return 1;
    }
    std::cout << "removed " << removed->name << " " << removed->version << " from " << device.root
              << (removed->resprung ? "; SpringBoard restarted" : "") << "\n";
    return 0;
}

int packagesCommand(const DeviceFolder& device, bool json) {
    if (!hasDatabase(device)) {
        std::cerr << "vantrel-device: the device at " << device.root << " is not laid out yet (vantrel-device install)\n";
        return 1;
    }
    auto packages = readStatus(device);
    if (!packages) {
        std::cerr << "vantrel-device: " << packages.error().message << "\n";
        return 1;
    }
    auto value = [](const Stanza& s, const char* field) { return fieldOf(s, field).value_or(""); };
    if (json) {
        Json list = Json::array();
        for (const auto& s : *packages)
            list.push_back(Json{{"name", value(s, "Package")},
                                {"version", value(s, "Version")},
                                {"architecture", value(s, "Architecture")},
                                {"status", value(s, "Status")}});
        std::cout << jsonDump(Json{{"schema", 1}, {"packages", list}}) << "\n";
        return 0;
    }
    size_t width = 4;
    for (const auto& s : *packages) width = std::max(width, value(s, "Package").size());
    std::cout << std::left << std::setw(static_cast<int>(width + 2)) << "Name" << std::setw(12) << "Version" << std::setw(14)
              << "Architecture" << "Status\n";
    for (const auto& s : *packages)
        std::cout << std::setw(static_cast<int>(width + 2)) << value(s, "Package") << std::setw(12) << value(s, "Version")
                  << std::setw(14) << value(s, "Architecture") << value(s, "Status") << "\n";
    return 0;
}

}  // namespace vantrel::sim
