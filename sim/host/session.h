// One host process's session on a device: its home and log, its main run loop (ended by
// SIGTERM, SIGINT and SIGHUP) and, once joinBus succeeds, the device bus as the distributed
// notification centre. The session owns the loop and the centre; all of it is undone when the
// session goes (hosts that leave by _exit end it first). Main thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/sdevent_runloop.h"
#include "sim/common/device.h"
#include "sim/common/result.h"

namespace vantrel::sim {

// The name of joinBus's error when the device records no bus: it is not running.
inline constexpr char kDeviceNotRunning[] = "DeviceNotRunning";

class DeviceSession {
public:
    enum class Log { ToStderrToo, FileOnly };

    DeviceSession(DeviceFolder device, Log log);
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;
    ~DeviceSession();

    // Joins the bus launchd recorded and makes it the distributed notification centre.
    Result<void> joinBus();

    const DeviceFolder& device() const { return device_; }
    const std::string& busAddress() const { return address_; }
    platform::SdEventRunLoop& loop() { return loop_; }
    platform::DBusNotificationCenter* center() const { return center_.get(); }

private:
    DeviceFolder device_;
    std::string address_;
    platform::SdEventRunLoop loop_;
    std::unique_ptr<platform::DBusNotificationCenter> center_;  // after loop_: it goes first
};

}  // namespace vantrel::sim
