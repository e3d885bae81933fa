#include "platform/foundation/dbus_notifications.h"

#include <cstring>
#include <thread>
#include <vector>

#include <systemd/sd-bus.h>

#include "platform/foundation/dbus_userinfo.h"
#include "platform/foundation/error_text.h"
#include "platform/foundation/log.h"
#include "platform/foundation/sd_ptr.h"

namespace platform {
namespace {

// A match rule value in single quotes; a quote inside closes, escapes and reopens.
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

}  // namespace

struct DBusNotificationCenter::State {
    SdEventRunLoop* loop = nullptr;
    std::thread::id owner;
    BusPtr bus;
    NotificationObservers observers;
    bool reportedSendFailure = false;
    std::function<void()> onDelivered;

    bool onOwnerThread() const { return std::this_thread::get_id() == owner; }

    void send(const std::string& name, const std::optional<Dictionary>& userInfo) {
        if (!bus) return;
        MessagePtr msg;
        int r =
            sd_bus_message_new_signal(bus.get(), out(msg), kNotificationObjectPath, kNotificationInterface, kNotificationMember);
        if (r >= 0) r = sd_bus_message_append(msg.get(), "sb", name.c_str(), userInfo ? 1 : 0);
        if (r >= 0 && !appendUserInfo(msg.get(), userInfo ? *userInfo : Dictionary{})) r = -EINVAL;
        if (r >= 0) r = sd_bus_send(bus.get(), msg.get(), nullptr);
        if (r < 0) {
            if (!reportedSendFailure) NSLog("Notification %s could not be posted: %s", name.c_str(), errorText(-r).c_str());
            reportedSendFailure = true;
        } else {
            reportedSendFailure = false;
        }
    }

    static int onSignal(sd_bus_message* msg, void* userdata, sd_bus_error*) {
        auto* self = static_cast<State*>(userdata);
        const char* name = nullptr;
        int hasUserInfo = 0;
        Dictionary info;
        if (sd_bus_message_read(msg, "sb", &name, &hasUserInfo) < 0 || !name || !readUserInfo(msg, info)) {
            NSLog("A malformed notification was dropped");
            return 0;
        }
        std::optional<Dictionary> userInfo;
        if (hasUserInfo) userInfo = std::move(info);
        self->observers.deliver(name, userInfo, self->loop);
        if (self->onDelivered) self->onDelivered();
        return 0;
    }

    void addMatch(const std::string& name) {
        if (!bus) return;
        std::string rule = std::string("type='signal',path='") + kNotificationObjectPath + "',interface='" +
                           kNotificationInterface + "',member='" + kNotificationMember + "',arg0=" + quoted(name);
        // Asynchronous: a stuck daemon must not block the run loop.
        int r = sd_bus_add_match_async(bus.get(), nullptr, rule.c_str(), onSignal, nullptr, this);
        if (r < 0) NSLog("Observing %s failed: %s", name.c_str(), errorText(-r).c_str());
    }
};

DBusNotificationCenter::DBusNotificationCenter(const std::string& address, SdEventRunLoop& loop) : s_(std::make_shared<State>()) {
    s_->loop = &loop;
    s_->owner = std::this_thread::get_id();
    BusPtr bus;
    int r = sd_bus_new(out(bus));
    if (r >= 0) r = sd_bus_set_address(bus.get(), address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus.get(), 1);
    if (r >= 0) r = sd_bus_start(bus.get());
    if (r >= 0 && loop.event()) r = sd_bus_attach_event(bus.get(), loop.event(), 0);
    if (r < 0) {
        NSLog("The device bus at %s cannot be joined: %s", address.c_str(), errorText(-r).c_str());
        return;
    }
    s_->bus = std::move(bus);
}

DBusNotificationCenter::~DBusNotificationCenter() {
    // Observers stay with State until the bus, which calls into it, is gone.
    if (s_->bus) sd_bus_detach_event(s_->bus.get());
    s_->bus.reset();
}

bool DBusNotificationCenter::isConnected() const { return s_->bus && sd_bus_is_open(s_->bus.get()) > 0; }

sd_bus* DBusNotificationCenter::bus() const { return s_->bus.get(); }

void DBusNotificationCenter::setDeliveredObserver(std::function<void()> observer) { s_->onDelivered = std::move(observer); }

void DBusNotificationCenter::post(const std::string& name, const Dictionary* userInfo) {
    std::optional<Dictionary> info;
    if (userInfo) info = *userInfo;
    if (s_->onOwnerThread()) {
        s_->send(name, info);
        return;
    }
    std::weak_ptr<State> weak = s_;
    s_->loop->perform([weak, name, info] {
        if (auto s = weak.lock()) s->send(name, info);
    });
}

void DBusNotificationCenter::addObserver(const std::string& name, std::function<void(const Dictionary*)> callback,
                                         RunLoop& loop) {
    if (!s_->observers.add(name, std::move(callback), loop)) return;
    if (s_->onOwnerThread()) {
        s_->addMatch(name);
        return;
    }
    std::weak_ptr<State> weak = s_;
    s_->loop->perform([weak, name] {
        if (auto s = weak.lock()) s->addMatch(name);
    });
}

}  // namespace platform
