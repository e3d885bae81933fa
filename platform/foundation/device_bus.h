// The device's own message bus: a private dbus-daemon listening on a socket inside a folder of
// the device, reachable by this user alone, never the desktop's session bus. The caller owns
// the started process and ends it with stopDeviceBus (by its pid, nothing else). Failures come
// back as nullopt with the reason in *error.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace platform {

// The one well-known name the bus lets a client own: SpringBoard's.
inline constexpr char kDeviceBusOwnableName[] = "com.apple.springboard";

struct DeviceBus {
    pid_t pid = -1;
    std::string address;  // "unix:path=<folder>/bus.socket"
};

// Writes <folder>/bus.conf, starts dbus-daemon on it (not detached from the caller: it is our
// child) and waits up to timeoutSeconds for it to listen.
std::optional<DeviceBus> startDeviceBus(const std::string& folder, double timeoutSeconds, std::string* error);

// SIGTERM to pid, then SIGKILL if it lingers past timeoutSeconds; reaps it when it is our child.
void stopDeviceBus(pid_t pid, double timeoutSeconds = 2.0);

}  // namespace platform
