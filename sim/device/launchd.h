// launchd of the simulated device: the one process that owns the device's children, the private
// dbus-daemon and SpringBoard, starts SpringBoard again whenever it ends (in safe mode after a
// crash loop) and ends both, by pid, when stopped. Also the helpers the control tool shares with
// it for ending what a device left behind. Runs on the calling thread; returns an exit status.
#pragma once

#include <sys/types.h>

#include "sim/device/device.h"

namespace vantrel::sim {

// Runs the device in this process until SIGTERM, SIGINT or SIGHUP, or until the bus ends.
// control is the start command's turn, given back once launchd holds the folder.
int launchd(const DeviceFolder& device, bool interactive, ControlLock* control = nullptr);

// Ends a process we recorded, by its pid only, and waits up to timeout for it to be gone.
void endProcess(pid_t pid, double timeout);

// The pid and address files of run/, once nothing they name runs.
void removeRunFiles(const DeviceFolder& device);

void sleepFor(double seconds);

}  // namespace vantrel::sim
