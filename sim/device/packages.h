// Packages on the device, as dpkg handles them on a phone: install unpacks a .deb (read with
// dpkg-deb, every path judged first), places its files whole beside what a running SpringBoard
// loaded, records it in the database (dpkg_database.h) and the install record loadInstalled
// checks, then hands its postinst to the device shell; remove takes back the recorded files and
// links that still hold what install placed, relative to folders opened without following
// links. A refused package leaves the device as it was. Failures come back as a Result.
#pragma once

#include <string>
#include <vector>

#include "sim/device/device.h"

namespace vantrel::sim {

// Whether the package's postinst is handed to the device shell. The build's own package is laid
// in without it: a developer's install leaves the running SpringBoard alone until a respring.
enum class Postinst { Run, Skip };

struct PackageOutcome {
    std::string name, version, architecture;
    bool resprung = false;  // the postinst (or a remove) restarted a running SpringBoard
    std::vector<std::string> kept{};  // paths left in place: changed since install placed them
};

// The package the build makes, in build/packages.
std::string buildPackagePath();

Result<PackageOutcome> installPackage(const DeviceFolder& device, const std::string& debPath, Postinst postinst);
Result<PackageOutcome> removePackage(const DeviceFolder& device, const std::string& name);

// The commands: what was done on stdout, the reason of a refusal on stderr; 0 or 1.
int installPackageCommand(const DeviceFolder& device, const std::string& debPath);
int removePackageCommand(const DeviceFolder& device, const std::string& name);
int packagesCommand(const DeviceFolder& device, bool json);

}  // namespace vantrel::sim
