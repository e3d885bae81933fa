// SpringBoard's bus service: the typed com.quennick.vantrel.Device interface (docs/dbus.md) on
// a connection of its own, served at a higher priority than the notification connection, so a
// flood of notifications never keeps a command waiting. Commands run on the main thread; a
// command's reply goes out once the notifications it posted have come back. Properties are read
// from SpringBoard's state when asked; redrawn() announces those that changed since the last one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/sdevent_runloop.h"
#include "platform/foundation/value.h"
#include "sim/common/device.h"
#include "sim/springboard/commands.h"

struct sd_bus;

namespace vantrel::sim {

// A lost connection ends the run loop with EXIT_FAILURE (logged, naming which): a host cut off
// the bus that lived on would look alive to launchd and answer nobody.
void exitWhenDisconnected(sd_bus* bus, const char* which);

struct ServiceHost {
    DeviceFolder device;
    platform::SdEventRunLoop* loop = nullptr;
    platform::DBusNotificationCenter* center = nullptr;  // the round trip of every reply
    bool safeMode = false;
    std::function<void()> setNeedsDisplay;
};

class DeviceService {
public:
    explicit DeviceService(ServiceHost host);
    DeviceService(const DeviceService&) = delete;
    DeviceService& operator=(const DeviceService&) = delete;
    ~DeviceService();

    // Joins the bus on the control connection and queues for SpringBoard's name; false, logged,
    // when the bus refuses. A lost connection ends the run loop with EXIT_FAILURE.
    bool open(const std::string& address);
    // After each redraw: PropertiesChanged for the properties that changed, then StatusBarRedrawn.
    void redrawn(uint64_t count);
    // Runs work on the loop once every reply waiting for its round trip has gone out (a
    // command that ends SpringBoard still answers first).
    void afterReplies(std::function<void()> work);
    // Each notification handled on the notification connection.
    void notificationHandled();

    struct State;

private:
    std::unique_ptr<State> s_;
};

}  // namespace vantrel::sim
