#include <cerrno>
#include <cstring>
#include <filesystem>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/device/device_state.h"
#include "platform/foundation/error_text.h"
#include "platform/foundation/file.h"
#include "sim/device/install.h"

#include "sim/common/safety.h"
#include "sim/packages/dpkg_database.h"
#include "sim/packages/packages.h"

namespace fs = std::filesystem;

namespace vantrel::sim {
namespace {

constexpr int kDeepest = 64;  // no device keeps folders deeper than this

// Removes the entry name of the open folder dir, and what a folder holds, each relative to the
// folder opened before it: a link is removed as a link, never followed.
Result<void> removeAt(int dir, const std::string& name, const std::string& shown, int depth) {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Result<void>{} : failure("cannot inspect " + shown + ": " + platform::errorText(errno));
    if (S_ISDIR(st.st_mode)) {
        if (depth >= kDeepest) return failure("cannot remove " + shown + ": folders nested too deep");
        platform::Fd sub(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!sub) return failure("cannot open " + shown + ": " + platform::errorText(errno));
        std::vector<std::string> names;
        {
            DIR* stream = ::fdopendir(::dup(sub.get()));
            if (!stream) return failure("cannot read " + shown + ": " + platform::errorText(errno));
            while (dirent* e = ::readdir(stream))
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
            ::closedir(stream);
        }
        for (const auto& entry : names) TRY(removeAt(sub.get(), entry, shown + "/" + entry, depth + 1));
        if (::unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            return failure("cannot remove " + shown + ": " + platform::errorText(errno));
        return {};
    }
    if (::unlinkat(dir, name.c_str(), 0) != 0 && errno != ENOENT)
        return failure("cannot remove " + shown + ": " + platform::errorText(errno));
    return {};
}

// The folder opened without following a link, and the names in it other than run/.
Result<platform::Fd> openOwnFolder(const DeviceFolder& device, std::vector<std::string>& names) {
    platform::Fd root(::open(device.root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!root) {
        if (errno == ENOENT) return root;
        return failure("cannot open " + device.root + " without following links: " + platform::errorText(errno));
    }
    struct stat st;
    if (::fstat(root.get(), &st) != 0 || st.st_uid != ::geteuid())
        return failure("--fresh empties only a folder of yours: " + device.root);
    DIR* stream = ::fdopendir(::dup(root.get()));
    if (!stream) return failure("cannot read " + device.root + ": " + platform::errorText(errno));
    while (dirent* e = ::readdir(stream)) {
        std::string name = e->d_name;
        if (name != "." && name != ".." && name != "run") names.push_back(name);
    }
    ::closedir(stream);
    return root;
}

// Whether what the folder holds is provably a device of the caller's: its device.plist and run/.
bool holdsADevice(int root) {
    struct stat plist;
    return ::fstatat(root, "device.plist", &plist, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(plist.st_mode);
}

Result<void> refuseNonDevice(const DeviceFolder& device) {
    return failure("--fresh empties only a device folder, and " + device.root +
                   " holds no device.plist: nothing was removed; name an empty or new folder");
}

// --fresh: everything but run/ (whose control lock the caller holds), and only from a folder
// that is provably a device of the caller's, opened without following links. A folder holding
// nothing else is left as it is.
Result<void> emptyDeviceFolder(const DeviceFolder& device) {
    std::vector<std::string> names;
    platform::Fd root = TRY(openOwnFolder(device, names));
    if (!root || names.empty()) return {};
    struct stat run;
    if (!holdsADevice(root.get()) || ::fstatat(root.get(), "run", &run, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(run.st_mode))
        return refuseNonDevice(device);
    for (const auto& name : names) TRY(removeAt(root.get(), name, device.root + "/" + name, 0));
    return {};
}

}  // namespace

Result<void> checkFreshable(const DeviceFolder& device) {
    std::vector<std::string> names;
    platform::Fd root = TRY(openOwnFolder(device, names));
    if (root && !names.empty() && !holdsADevice(root.get())) return refuseNonDevice(device);
    return {};
}

Result<void> install(const DeviceFolder& device, bool fresh) {
    const std::string package = buildPackagePath();
    if (!fs::exists(package))
        return failure(programLayout().installed
                           ? "the tweak's package is missing: " + package + " (./vantrel install puts it there)"
                           : "the package is not built (" + package + "); run ./vantrel build");
    // What it holds is loaded into SpringBoard: only from where nobody else could have swapped it.
    TRY(checkTrustedPath(package));

    TRY(checkDeviceFolder(device));
    if (fresh) TRY(emptyDeviceFolder(device));
    for (const std::string& dir : {device.root, device.home() + "/Library/Preferences", device.root + "/var/log", device.run()}) {
        if (!platform::createDirectories(dir)) return failure("cannot create " + dir);
    }
    // The device is this user's alone: its bus socket and preference files live in it.
    ::chmod(device.root.c_str(), 0700);
    ::chmod(device.run().c_str(), 0700);
    TRY(checkDeviceFolder(device));
    TRY(layOutDatabase(device));
    TRY(installPackage(device, package, Postinst::Skip));

    if (fresh || !platform::fileExists(device.devicePlist())) {
        platform::Dictionary state = platform::DeviceState{}.toDictionary();
        state.erase("locked");
        if (!writeDeviceState(device, state)) return failure("cannot write " + device.devicePlist());
    }
    return {};
}

}  // namespace vantrel::sim
