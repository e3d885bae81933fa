// The status bar as the SpringBoard host shows it: one line for scripts and the terminal, the
// JSON object of `device status --json`, and the terminal's full screen. Read from the
// simulated SpringBoard's state on the main thread; nothing here changes it.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

#include "sim/common/json.h"

namespace vantrel::sim {

// Status replies, properties and the screen carry texts the tweak or a peer made: each is cut
// to kShownText bytes (at a character's start) and at most kListedAlerts alerts are listed, so
// a reply stays far inside what the bus carries however long a text someone set.
inline constexpr size_t kShownText = 4096;
inline constexpr size_t kListedAlerts = 64;
std::string bounded(std::string_view text);

// In safe mode (no extensions loaded) the line and the screen say so first.
std::string statusLine(bool safeMode);
Json statusJson(pid_t springBoardPid, bool safeMode);
// The terminal screen: the bar, the lock screen and Notification Centre, the alerts, the keys;
// each line broken to fit a terminal `columns` wide.
// `note` (a key that does nothing, say) stands just above the keys.
std::string statusScreen(const std::string& deviceRoot, bool safeMode, size_t columns = 80, std::string_view note = {});

}  // namespace vantrel::sim
