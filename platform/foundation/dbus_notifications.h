// The distributed notification centre of the hosts: one D-Bus signal per post on the device's
// own bus, carrying the name as its first argument (observers match it with arg0) and the
// userInfo as a{sv} of every property-list type (codec: dbus_userinfo.h). Every process on the
// bus with an observer of the name receives it, the poster included, on the observer's run loop
// after post() has returned. The connection is owned here and attached to the given sd-event
// loop; post() and addObserver() may be called from any thread. A broken bus or a malformed
// signal is logged and dropped, never thrown.
#pragma once

#include <memory>
#include <string>

#include "platform/foundation/dbus_userinfo.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/sdevent_runloop.h"

struct sd_bus;
struct sd_bus_message;

namespace platform {

inline constexpr char kNotificationObjectPath[] = "/com/quennick/vantrel/notifications";
inline constexpr char kNotificationInterface[] = "com.quennick.vantrel.DistributedNotifications";
inline constexpr char kNotificationMember[] = "Notification";

class DBusNotificationCenter : public NotificationCenter {
public:
    // Connects to the bus at `address` (e.g. "unix:path=/.../bus.socket") and attaches it to
    // `loop`, which must outlive the centre. Check isConnected() afterwards.
    DBusNotificationCenter(const std::string& address, SdEventRunLoop& loop);
    ~DBusNotificationCenter() override;
    DBusNotificationCenter(const DBusNotificationCenter&) = delete;
    DBusNotificationCenter& operator=(const DBusNotificationCenter&) = delete;

    bool isConnected() const;
    void post(const std::string& name, const Dictionary* userInfo) override;
    void addObserver(const std::string& name, std::function<void(const Dictionary* userInfo)> callback, RunLoop& loop) override;

    // The connection (borrowed), for a host that also offers methods on the device bus. Use it
    // on the connection loop's thread only.
    sd_bus* bus() const;
    // Called on the connection loop after each notification has been handled (the host counts
    // them while it waits for a round trip). Connection loop's thread only.
    void setDeliveredObserver(std::function<void()> observer);

private:
    struct State;
    std::shared_ptr<State> s_;
};

}  // namespace platform
