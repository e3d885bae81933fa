// The status bar as the SpringBoard host shows it: one line for scripts and the terminal, the
// JSON object of `device status --json`, and the terminal's full screen. Read from the
// simulated SpringBoard's state on the main thread; nothing here changes it.
#pragma once

#include <string>
#include <sys/types.h>

#include "sim/device/json.h"

namespace vantrel::sim {

std::string statusLine();
Json statusJson(pid_t springBoardPid);
// The terminal screen: the bar, the lock screen and Notification Centre, the alerts, the keys.
std::string statusScreen(const std::string& deviceRoot);

}  // namespace vantrel::sim
