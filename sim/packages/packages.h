// Packages on the device, as dpkg handles them on a phone: install unpacks a .deb (read with
// dpkg-deb, every path judged first), places its files whole beside what a running SpringBoard
// loaded, records it in the database (dpkg_database.h) and the install record loadInstalled
// checks, then hands its postinst to the device shell; remove takes back the recorded files and
// links that still hold what install placed, relative to folders opened without following
// links. A refused package leaves the device as it was. Failures come back as a Result.
#pragma once

#include <string>
#include <vector>

#include "sim/common/device.h"

namespace vantrel::sim {

// Whether the package's postinst is handed to the device shell. The build's own package is laid
// in without it: a developer's install leaves the running SpringBoard alone until a respring.
enum class Postinst { Run, Skip };

struct PackageOutcome {
    std::string name, version, architecture;
    bool resprung = false;            // the postinst (or a remove) restarted a running SpringBoard
    bool respringAnswered = true;     // and a new SpringBoard answered within the timeout
    std::vector<std::string> kept{};  // paths left in place: changed since install placed them

    template <class Shell>
    void respring(Shell outcome) {
        resprung = outcome != Shell::Ran;
        respringAnswered = outcome != Shell::RespringNotBack;
    }
};

// How long a respring may take before the commands say SpringBoard did not come back.
inline constexpr double kRespringTimeout = 20.0;

// The package the build makes, in build/packages.
std::string buildPackagePath();

Result<PackageOutcome> installPackage(const DeviceFolder& device, const std::string& debPath, Postinst postinst);
Result<PackageOutcome> removePackage(const DeviceFolder& device, const std::string& name);

}  // namespace vantrel::sim
