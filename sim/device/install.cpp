// install: lays a device folder out from the build tree (see device.h).
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/device/device_state.h"
#include "platform/foundation/file.h"
#include "platform/foundation/plist.h"
#include "sim/device/device.h"
#include "sim/device/safety.h"
#include "sim/device/sha256.h"

namespace fs = std::filesystem;

namespace vantrel::sim {
namespace {

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n, size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies from into a new file beside to (created exclusively), fsyncs it and renames it over
// to: a loaded library is never written in place, and a full disk leaves the old file whole.
// The SHA-256 of what was written, in hex.
Result<std::string> placeFile(const fs::path& from, const fs::path& to) {
    platform::Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!in || ::fstat(in.get(), &st) != 0) return failure("cannot read " + from.string() + ": " + std::strerror(errno));
    std::string tmp = (to.parent_path() / ("." + to.filename().string() + ".XXXXXX")).string();
    platform::Fd out(::mkostemp(tmp.data(), O_CLOEXEC));
    if (!out) return failure("cannot create a file in " + to.parent_path().string() + ": " + std::strerror(errno));
    Sha256 sha;
    bool ok = ::fchmod(out.get(), st.st_mode & 0755) == 0;
    uint8_t buf[1 << 16];
    for (ssize_t n; ok && (n = ::read(in.get(), buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0 && writeAll(out.get(), buf, static_cast<size_t>(n));
        if (ok) sha.update(buf, static_cast<size_t>(n));
    }
    ok = ok && ::fsync(out.get()) == 0;
    bool closed = out.close();
    ok = ok && closed && ::rename(tmp.c_str(), to.c_str()) == 0;
    if (!ok) {
        int err = errno;
        ::unlink(tmp.c_str());
        return failure("cannot write " + to.string() + ": " + std::strerror(err));
    }
    platform::Fd dir(::open(to.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
    return sha.hex();
}

// Temporaries of an install that was cut off (.NAME.XXXXXX): never loaded, only removed.
void removeStaleTemporaries(const std::string& folder) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        std::string name = e.path().filename().string();
        auto dot = name.rfind('.');
        if (name.size() > 8 && name[0] == '.' && dot != std::string::npos && name.size() - dot == 7 && e.is_regular_file())
            fs::remove(e.path(), ec);
    }
}

}  // namespace

Result<void> install(const DeviceFolder& device, bool fresh) {
    const fs::path build = buildDirectory();
    const fs::path dylib = build / "lib" / "Vantrel.dylib";
    const fs::path bundleBinary = build / "Vantrel.bundle" / "Vantrel";
    if (!fs::exists(dylib)) return failure("the tweak is not built (" + dylib.string() + "); run ./vantrel build");
    if (!fs::exists(bundleBinary))
        return failure("the preference bundle is not built (" + bundleBinary.string() + "); run ./vantrel build");

    TRY(checkDeviceFolder(device));
    std::error_code ec;
    // Fresh: everything but run/, whose control lock the caller holds.
    if (fresh)
        for (const auto& e : fs::directory_iterator(device.root, ec))
            if (e.path().filename() != "run") fs::remove_all(e.path(), ec);
    for (const std::string& dir : {device.root, device.dynamicLibraries(), device.bundle(), device.preferenceLoaderEntries(),
                                   device.home() + "/Library/Preferences", device.root + "/var/log", device.run()}) {
        if (!platform::createDirectories(dir)) return failure("cannot create " + dir);
    }
    // The device is this user's alone: its bus socket and preference files live in it.
    ::chmod(device.root.c_str(), 0700);
    ::chmod(device.run().c_str(), 0700);
    TRY(checkDeviceFolder(device));

    std::map<std::string, std::string> installed;
    auto place = [&](const fs::path& from, const std::string& to) -> Result<void> {
        std::string digest = TRY(placeFile(from, to));
        if (digest.empty()) return failure("cannot hash " + to);
        installed[to.substr(device.root.size() + 1)] = digest;
        return {};
    };
    removeStaleTemporaries(device.dynamicLibraries());
    removeStaleTemporaries(device.bundle());
    TRY(place(dylib, device.dynamicLibraries() + "/Vantrel.dylib"));
    platform::Dictionary filter{
        {"Filter", platform::Dictionary{{"Bundles", platform::Array{platform::Value("com.apple.springboard")}}}}};
    if (!platform::writeDictionaryFile(device.dynamicLibraries() + "/Vantrel.plist", filter))
        return failure("cannot write the tweak's filter");

    // The bundle as the build lays it out: the executable beside its resources.
    for (const auto& file : fs::directory_iterator(bundleBinary.parent_path(), ec)) {
        if (!file.is_regular_file()) continue;
        TRY(place(file.path(), device.bundle() + "/" + file.path().filename().string()));
    }
    const std::string entryPath = device.preferenceLoaderEntries() + "/Vantrel.plist";
    std::optional<fs::path> entry;
    for (const fs::path& candidate : {build / "PreferenceLoader" / "Preferences" / "Vantrel.plist",
                                      fs::path(sourceDirectory()) / "prefs" / "entry" / "Vantrel.plist"})
        if (!entry && fs::exists(candidate)) entry = candidate;
    if (entry) {
        TRY(placeFile(*entry, entryPath));
    } else {
        platform::Dictionary item{{"bundle", "Vantrel"},         {"cell", "PSLinkCell"},
                                  {"detail", "VantrelListController"}, {"isController", true},
                                  {"label", "Vantrel"}};
        if (!platform::writeDictionaryFile(entryPath, platform::Dictionary{{"entry", item}}))
            return failure("cannot write the Settings entry");
    }
    if (!platform::fileExists(device.bundle() + "/Info.plist")) {
        platform::Dictionary info{{"CFBundleExecutable", "Vantrel"},
                                  {"CFBundleIdentifier", "com.quennick.vantrel.prefs"},
                                  {"NSPrincipalClass", "VantrelListController"}};
        platform::writeDictionaryFile(device.bundle() + "/Info.plist", info);
    }
    if (!recordInstalledFiles(device, installed)) return failure("cannot write " + device.installRecord());

    if (fresh || !platform::fileExists(device.devicePlist())) {
        platform::Dictionary state = platform::DeviceState{}.toDictionary();
        state.erase("locked");
        if (!writeDeviceState(device, state)) return failure("cannot write " + device.devicePlist());
    }
    return {};
}

}  // namespace vantrel::sim
