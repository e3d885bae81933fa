// Packages on the device, as dpkg handles them on a phone: install unpacks a .deb (read with
// dpkg-deb, every path judged first), places its files whole beside what a running SpringBoard
// loaded, records it in the database (dpkg_database.h) and the install record loadInstalled
// checks, then hands its postinst to the device shell; remove takes exactly the recorded files
// back. A refused package leaves the device as it was. Failures come back as a Result.
#pragma once

#include <string>

#include "sim/device/device.h"

namespace vantrel::sim {

// Whether the package's postinst is handed to the device shell. The build's own package is laid
// in without it: a developer's install leaves the running SpringBoard alone until a respring.
enum class Postinst { Run, Skip };

struct PackageOutcome {
    std::string name, version, architecture;
    bool resprung = false;  // the postinst (or a remove) restarted a running SpringBoard
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
