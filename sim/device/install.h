// install: lays a device folder out and installs the build's package into it.
#pragma once

#include "sim/common/device.h"

namespace vantrel::sim {

// Lays the folder out (the home, the package database with the substrate and the preference
// loader, device.plist, kept when present unless fresh) and installs the build's package into
// it without its postinst: a running SpringBoard keeps what it loaded (packages.h).
Result<void> install(const DeviceFolder& device, bool fresh);

// Whether --fresh may empty the folder: it is missing, holds nothing, or is a device of the
// caller's. Asked before anything is created in it; install asks again under the control lock.
Result<void> checkFreshable(const DeviceFolder& device);

}  // namespace vantrel::sim
