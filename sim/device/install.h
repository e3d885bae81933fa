// install: lays a device folder out and installs the build's package into it.
#pragma once

#include "sim/common/device.h"

namespace vantrel::sim {

// Lays the folder out (the home, the package database with the substrate and the preference
// loader, device.plist, kept when present unless fresh) and installs the build's package into
// it without its postinst: a running SpringBoard keeps what it loaded (packages.h).
Result<void> install(const DeviceFolder& device, bool fresh);

}  // namespace vantrel::sim
