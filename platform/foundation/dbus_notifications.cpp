#include "platform/foundation/dbus_notifications.h"

#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include <systemd/sd-bus.h>

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

bool appendValue(sd_bus_message* m, const Value& v) {
    int r = 0;
    if (auto b = v.boolean()) {
        int flag = *b ? 1 : 0;
        r = sd_bus_message_append(m, "v", "b", flag);
    } else if (auto i = v.integer()) {
        // int32 when it fits, so receivers that read 32 bits see what a phone would send.
        if (*i >= std::numeric_limits<int32_t>::min() && *i <= std::numeric_limits<int32_t>::max())
            r = sd_bus_message_append(m, "v", "i", static_cast<int32_t>(*i));
        else
            r = sd_bus_message_append(m, "v", "x", *i);
    } else if (auto d = v.real()) {
        r = sd_bus_message_append(m, "v", "d", *d);
    } else if (auto s = v.string()) {
        r = sd_bus_message_append(m, "v", "s", s->c_str());
    } else {
        return false;
    }
    return r >= 0;
}

}  // namespace

bool appendUserInfo(sd_bus_message* m, const Dictionary& userInfo) {
    if (sd_bus_message_open_container(m, 'a', "{sv}") < 0) return false;
    for (const auto& [key, value] : userInfo) {
        if (!value.isBoolean() && !value.isNumber() && !value.isString()) {
            NSLog("userInfo entry %s is of a kind notifications do not carry; left out", key.c_str());
            continue;
        }
        if (sd_bus_message_open_container(m, 'e', "sv") < 0) return false;
        if (sd_bus_message_append(m, "s", key.c_str()) < 0) return false;
        if (!appendValue(m, value)) return false;
        if (sd_bus_message_close_container(m) < 0) return false;
    }
    return sd_bus_message_close_container(m) >= 0;
}

bool readUserInfo(sd_bus_message* m, Dictionary& userInfo) {
    if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return false;
    // One line for all skipped entries: a large signal must not become a line per entry.
    size_t skipped = 0;
    std::string firstSkipped;
    struct ReportSkipped {
        size_t& n;
        std::string& first;
        ~ReportSkipped() {
            if (n) NSLog("%zu userInfo entries of types notifications do not carry left out (first: %s)", n, first.c_str());
        }
    } report{skipped, firstSkipped};
    for (;;) {
        int r = sd_bus_message_enter_container(m, 'e', "sv");
        if (r < 0) return false;
        if (r == 0) break;
        const char* key = nullptr;
        if (sd_bus_message_read(m, "s", &key) < 0) return false;
        const char* contents = nullptr;
        char type = 0;
        if (sd_bus_message_peek_type(m, &type, &contents) < 0 || type != 'v' || !contents) return false;
        if (sd_bus_message_enter_container(m, 'v', contents) < 0) return false;
        std::string sig = contents;
        std::optional<Value> value;
        if (sig == "b") {
            int b = 0;
            if (sd_bus_message_read(m, "b", &b) >= 0) value = Value(b != 0);
        } else if (sig == "i") {
            int32_t i = 0;
            if (sd_bus_message_read(m, "i", &i) >= 0) value = Value(static_cast<long long>(i));
        } else if (sig == "x") {
            int64_t i = 0;
            if (sd_bus_message_read(m, "x", &i) >= 0) value = Value(static_cast<long long>(i));
        } else if (sig == "u") {
            uint32_t i = 0;
            if (sd_bus_message_read(m, "u", &i) >= 0) value = Value(static_cast<long long>(i));
        } else if (sig == "t") {
            uint64_t i = 0;
            if (sd_bus_message_read(m, "t", &i) >= 0) value = Value(static_cast<long long>(i));
        } else if (sig == "n") {
            int16_t i = 0;
            if (sd_bus_message_read(m, "n", &i) >= 0) value = Value(static_cast<long long>(i));
        } else if (sig == "q") {
            uint16_t i = 0;
            if (sd_bus_message_read(m, "q", &i) >= 0) value = Value(static_cast<long long>(i));
        } else if (sig == "y") {
            uint8_t i = 0;
            if (sd_bus_message_read(m, "y", &i) >= 0) value = Value(static_cast<long long>(i));
        } else if (sig == "d") {
            double d = 0;
            if (sd_bus_message_read(m, "d", &d) >= 0) value = Value(d);
        } else if (sig == "s") {
            const char* s = nullptr;
            if (sd_bus_message_read(m, "s", &s) >= 0 && s) value = Value(std::string(s));
        } else {
            if (sd_bus_message_skip(m, contents) < 0) return false;
            if (skipped++ == 0) firstSkipped = std::string(key) + " of type " + contents;
        }
        if (sd_bus_message_exit_container(m) < 0) return false;  // variant
        if (sd_bus_message_exit_container(m) < 0) return false;  // entry
        if (value) userInfo[key] = std::move(*value);
    }
    return sd_bus_message_exit_container(m) >= 0;
}

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
        int r = sd_bus_message_new_signal(bus.get(), out(msg), kNotificationObjectPath, kNotificationInterface,
                                          kNotificationMember);
        if (r >= 0) r = sd_bus_message_append(msg.get(), "sb", name.c_str(), userInfo ? 1 : 0);
        if (r >= 0 && !appendUserInfo(msg.get(), userInfo ? *userInfo : Dictionary{})) r = -EINVAL;
        if (r >= 0) r = sd_bus_send(bus.get(), msg.get(), nullptr);
        if (r < 0) {
            if (!reportedSendFailure) NSLog("Notification %s could not be posted: %s", name.c_str(), std::strerror(-r));
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
        if (r < 0) NSLog("Observing %s failed: %s", name.c_str(), std::strerror(-r));
    }
};

DBusNotificationCenter::DBusNotificationCenter(const std::string& address, SdEventRunLoop& loop)
    : s_(std::make_shared<State>()) {
    s_->loop = &loop;
    s_->owner = std::this_thread::get_id();
    BusPtr bus;
    int r = sd_bus_new(out(bus));
    if (r >= 0) r = sd_bus_set_address(bus.get(), address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus.get(), 1);
    if (r >= 0) r = sd_bus_start(bus.get());
    if (r >= 0 && loop.event()) r = sd_bus_attach_event(bus.get(), loop.event(), 0);
    if (r < 0) {
        NSLog("The device bus at %s cannot be joined: %s", address.c_str(), std::strerror(-r));
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

void DBusNotificationCenter::setDeliveredObserver(std::function<void()> observer) {
    s_->onDelivered = std::move(observer);
}

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
