// vantrel-device's commands: the command line (cli.cpp, CLI11) and what each command does. The
// lifecycle commands (cli_lifecycle.cpp) own the device's processes; the others are clients of
// SpringBoard's bus interface (cli_commands.cpp) or readers of the log and the redraw signal
// (cli_follow.cpp). Each returns the process's exit code: 0 done, 1 failed (the reason on
// stderr), 2 a usage error. Read-only commands never start or install a device.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sim/common/device.h"

namespace vantrel::sim::cli {

// Parses argv and runs the command.
int run(int argc, char** argv);

int install(const DeviceFolder& device, bool fresh);
int start(const DeviceFolder& device, bool fresh, bool interactive);
int stop(const DeviceFolder& device);
int restart(const DeviceFolder& device, bool fresh);

// True when launchd holds the folder; otherwise "not running: DIR" (or why that cannot be
// known) is on stderr and the caller exits 1.
bool running(const DeviceFolder& device);

int ping(const DeviceFolder& device);
int status(const DeviceFolder& device, bool json);
// Tap, Lock, Unlock, OpenNotificationCenter, CloseNotificationCenter. These and the commands
// below say what they did on standard output, unless quiet.
int call(const DeviceFolder& device, const char* method, bool quiet);
int answerAlert(const DeviceFolder& device, const std::string& id, const std::string& button, bool quiet);
int set(const DeviceFolder& device, const std::vector<std::string>& words, bool quiet);
int keys(bool json);
// The keys' values: from SpringBoard when running, else from device.plist over the defaults.
int get(const DeviceFolder& device, const std::vector<std::string>& names, bool json);
// The keys (all with all) back to a fresh device's values; all or nothing.
int reset(const DeviceFolder& device, const std::vector<std::string>& names, bool all, bool quiet);

// The package commands (cli_packages.cpp).
int installPackageCommand(const DeviceFolder& device, const std::string& debPath);
int removePackageCommand(const DeviceFolder& device, const std::string& name);
int packagesCommand(const DeviceFolder& device, bool json);

// The last lines of the log; with follow, new lines as they come until SIGINT or SIGTERM.
int log(const DeviceFolder& device, size_t lines, bool follow);
// The status line (or the Status JSON) at start and after each redraw, until a signal or the
// device goes away.
int watch(const DeviceFolder& device, bool json);

}  // namespace vantrel::sim::cli
