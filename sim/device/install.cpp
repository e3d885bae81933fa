// install: lays a device folder out and installs the build's package into it (see device.h).
#include <filesystem>

#include <sys/stat.h>

#include "platform/device/device_state.h"
#include "platform/foundation/file.h"
#include "sim/device/device.h"
#include "sim/device/dpkg_database.h"
#include "sim/device/packages.h"
#include "sim/device/safety.h"

namespace fs = std::filesystem;

namespace vantrel::sim {

Result<void> install(const DeviceFolder& device, bool fresh) {
    const std::string package = buildPackagePath();
    if (!fs::exists(package)) return failure("the package is not built (" + package + "); run ./vantrel build");

    TRY(checkDeviceFolder(device));
    std::error_code ec;
    // Fresh: everything but run/, whose control lock the caller holds.
    if (fresh)
        for (const auto& e : fs::directory_iterator(device.root, ec))
            if (e.path().filename() != "run") fs::remove_all(e.path(), ec);
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
