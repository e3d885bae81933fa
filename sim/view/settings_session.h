// The Settings app as the view drives it: one `vantrel-settings --device DIR --session` child,
// spoken to through pipes one command at a time (its output, then a line "ok" or "error"). The
// child is started on first use and again after it ends (the device restarted); it is ended by
// closing its input, then by its pid. One caller at a time: command() takes a lock.
#pragma once

#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include "sim/common/device.h"
#include "sim/common/process.h"
#include "sim/common/result.h"

namespace vantrel::sim::view {

// Error names of SettingsSession::command.
inline constexpr char kSettingsRefused[] = "SettingsRefused";          // the app answered "error"
inline constexpr char kSettingsUnavailable[] = "SettingsUnavailable";  // no app to ask
inline constexpr char kSettingsBadText[] = "SettingsBadText";          // a word the session cannot carry

class SettingsSession {
public:
    SettingsSession(DeviceFolder device, std::string program);
    SettingsSession(const SettingsSession&) = delete;
    SettingsSession& operator=(const SettingsSession&) = delete;
    ~SettingsSession();

    // One command, its words quoted for the session; the output before "ok", or the app's own
    // message when it answered "error".
    Result<std::string> command(const std::vector<std::string>& words, double timeoutSeconds = 15.0);
    // Ends the child: its input closed (it leaves its page, which saves), then SIGKILL by pid.
    void close();

private:
    Result<void> spawn();
    Result<std::string> exchange(const std::string& line, double timeoutSeconds);

    DeviceFolder device_;
    std::string program_;
    std::mutex mutex_;
    ChildProcess child_;  // killed and reaped whenever it is let go
    std::string buffered_;
};

}  // namespace vantrel::sim::view
