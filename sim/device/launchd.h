// launchd of the simulated device: the one process that owns the device's children, the private
// dbus-daemon and SpringBoard, starts SpringBoard again whenever it ends (in safe mode after a
// crash loop) and ends both, by pid, when stopped. Also the helpers the control tool shares with
// it for ending what a device left behind. Runs on the calling thread; returns an exit status.
#pragma once

#include <sys/types.h>

#include <deque>

#include "sim/common/device.h"

namespace vantrel::sim {

// Runs the device in this process until SIGTERM, SIGINT or SIGHUP, or until the bus ends.
// control is the start command's turn, given back once launchd holds the folder.
int launchd(const DeviceFolder& device, bool interactive, ControlLock* control = nullptr);

// Ends a process we recorded, by its pid only, and waits up to timeout for it to be gone.
void endProcess(pid_t pid, double timeout);

// The pid and address files of run/, once nothing they name runs.
void removeRunFiles(const DeviceFolder& device);

void sleepFor(double seconds);

// What launchd makes of SpringBoard's end. A respring (asked for, or the device shell's SIGTERM)
// starts it again with its extensions; a lost bus starts it again as it was; anything else is a
// crash, and kCrashLoopDeaths crashes within kCrashLoopWindow seconds bring it back in safe mode,
// or, when it crashes so in safe mode too, stop the device.
class CrashLoop {
public:
    static constexpr int kCrashLoopDeaths = 5;
    static constexpr double kCrashLoopWindow = 10.0;
    enum class Next { Restart, LeaveSafeMode, EnterSafeMode, Stop };

    // waitStatus as waitpid gives it; now in seconds on any steady clock.
    Next ended(int waitStatus, double now);
    bool safeMode() const { return safeMode_; }

private:
    std::deque<double> crashes_;  // within the window, oldest first
    bool safeMode_ = false;
};

}  // namespace vantrel::sim
