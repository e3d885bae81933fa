// The device's shell, the one `system` reaches on the simulated phone. It never runs anything on
// the machine: it records each command, and answers the two restart commands by asking the
// simulated device to restart SpringBoard through a hook the host installs. Main thread.
// The exit status comes back as system's would: 0 when the device did what was asked.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// system(3) on the device. "killall SpringBoard" and "killall backboardd" call the restart
// hook (non-zero when none is installed: nothing would restart); anything else is recorded
// and answered with 0, as a process that is not running is nothing to report.
int system(const std::string& command);

// The host's way of restarting SpringBoard; empty removes it.
void setSpringBoardRestartHandler(std::function<void()> handler);

// Every command given to the shell so far, oldest first, and the way to start afresh.
std::vector<std::string> shellCommands();
void clearShellCommands();

}  // namespace platform
