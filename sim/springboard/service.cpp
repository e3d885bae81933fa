#include "sim/springboard/service.h"

#include "platform/foundation/error_text.h"
#include "sim/springboard/commands.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include "platform/device/device_state.h"
#include "platform/foundation/log.h"
#include "platform/foundation/sd_ptr.h"
#include "platform/springboard/springboard.h"
#include "platform/uikit/alert.h"
#include "shared/settings.h"
#include "sim/common/hardware_keys.h"
#include "sim/common/process.h"
#include "sim/common/safety.h"
#include "sim/springboard/properties.h"
#include "sim/springboard/status.h"

namespace vantrel::sim {
namespace {

// Notifications handled while a reply waits for its round trip beyond which a backlog is taken
// to be queued ahead of the command's own: the reply then goes out at once and the command's
// notifications follow the queue in order.
constexpr uint64_t kBacklog = 4;

}  // namespace

// ---- the service

namespace {

// A reply held back until the round trip on the notification connection has come back.
struct PendingReply {
    platform::MessagePtr call;
    std::function<int(sd_bus_message*)> send;
    bool readsState = false;  // Status(), StatusLine(): read after the work already queued
    uint64_t handledAtStart = 0;
    bool answered = false;
};

}  // namespace

struct DeviceService::State {
    ServiceHost host;
    platform::BusPtr bus;
    std::vector<std::shared_ptr<PendingReply>> waiting;
    uint64_t notificationsHandled = 0;
    Snapshot last;
    std::string lastDrawn;               // the status of the last StatusBarRedrawn
    const Snapshot* emitting = nullptr;  // what PropertiesChanged reports, read once per redraw
    std::vector<std::function<void()>> afterReplies;

    void runAfterReplies() {
        if (!waiting.empty()) return;
        auto work = std::move(afterReplies);
        afterReplies.clear();
        for (auto& fn : work) host.loop->perform(std::move(fn));
    }

    void answer(const std::shared_ptr<PendingReply>& p) {
        if (p->answered) return;
        p->answered = true;
        std::erase(waiting, p);
        auto reply = [this, p] {
            if (int r = p->send(p->call.get()); r < 0)
                NSLog("SpringBoard: a reply was not sent: %s", platform::errorText(-r).c_str());
            // A read changes nothing to redraw: a client that reads Status() after each
            // StatusBarRedrawn would otherwise be answered by another redraw, for ever.
            if (host.setNeedsDisplay && !p->readsState) host.setNeedsDisplay();
            runAfterReplies();
        };
        if (p->readsState)
            host.loop->perform(reply);
        else
            reply();
    }

    // The reply goes out after a round trip to the daemon on the notification connection: by
    // then every notification this command posted has come back to us and been handled, so a
    // status read next sees its effect (unless a backlog was ahead, see kBacklog).
    int replyAfterRoundTrip(sd_bus_message* m, sd_bus_error* error, std::function<int(sd_bus_message*)> send,
                            bool readsState = false) {
        auto p = std::make_shared<PendingReply>();
        p->call.reset(sd_bus_message_ref(m));
        p->send = std::move(send);
        p->readsState = readsState;
        p->handledAtStart = notificationsHandled;
        auto* held = new Held{this, p};
        platform::SlotPtr slot;
        int r = sd_bus_call_method_async(host.center->bus(), platform::out(slot), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                         "org.freedesktop.DBus", "GetId", onBarrier, held, "");
        if (r < 0) {
            delete held;
            return sd_bus_error_set_errno(error, r);
        }
        // The slot frees what it carries whenever it goes, answered or not; floating, it goes
        // with the bus once the reply is in, not with our reference.
        sd_bus_slot_set_destroy_callback(slot.get(), [](void* d) { delete static_cast<Held*>(d); });
        sd_bus_slot_set_floating(slot.get(), 1);
        waiting.push_back(p);
        return 1;
    }

    struct Held {
        State* state;
        std::shared_ptr<PendingReply> reply;
    };
    static int onBarrier(sd_bus_message*, void* userdata, sd_bus_error*) {
        auto* held = static_cast<Held*>(userdata);
        held->state->answer(held->reply);
        return 0;
    }
};

namespace {

using State = DeviceService::State;

int sendEmpty(sd_bus_message* call) { return sd_bus_reply_method_return(call, ""); }

// Runs a command; a refusal is its named error at once, a success a reply after the round trip.
template <typename F>
int command(sd_bus_message* m, void* userdata, sd_bus_error* error, const char* name, F&& run) {
    auto* s = static_cast<State*>(userdata);
    Result<void> r;
    try {
        r = run();
    } catch (...) {
        NSLog("SpringBoard: the command %s failed", name);
        return sd_bus_error_set(error, SD_BUS_ERROR_FAILED, "the command failed");
    }
    if (!r) {
        if (s->host.setNeedsDisplay) s->host.setNeedsDisplay();
        return sd_bus_error_set(error, r.error().name.c_str(), r.error().message.c_str());
    }
    return s->replyAfterRoundTrip(m, error, sendEmpty);
}

int onTap(sd_bus_message* m, void* u, sd_bus_error* e) { return command(m, u, e, "Tap", tapStatusBar); }
int onLock(sd_bus_message* m, void* u, sd_bus_error* e) {
    return command(m, u, e, "Lock", [] { return platform::lockDevice(), Result<void>(); });
}
int onUnlock(sd_bus_message* m, void* u, sd_bus_error* e) {
    return command(m, u, e, "Unlock", [] { return platform::unlockDevice(), Result<void>(); });
}
int onOpenNotificationCenter(sd_bus_message* m, void* u, sd_bus_error* e) {
    return command(m, u, e, "OpenNotificationCenter", [] { return platform::openNotificationCenter(), Result<void>(); });
}
int onCloseNotificationCenter(sd_bus_message* m, void* u, sd_bus_error* e) {
    return command(m, u, e, "CloseNotificationCenter", [] { return platform::closeNotificationCenter(), Result<void>(); });
}

int onAnswerAlert(sd_bus_message* m, void* u, sd_bus_error* e) {
    uint64_t id = 0;
    const char* button = nullptr;
    if (int r = sd_bus_message_read(m, "ts", &id, &button); r < 0) return r;
    return command(m, u, e, "AnswerAlert", [&] { return answerAlert(id, button ? button : ""); });
}

int onSetHardware(sd_bus_message* m, void* u, sd_bus_error* e) {
    platform::Dictionary changes;
    if (int r = sd_bus_message_enter_container(m, 'a', "{sv}"); r < 0) return r;
    for (int r; (r = sd_bus_message_enter_container(m, 'e', "sv")) != 0;) {
        if (r < 0) return r;
        const char* key = nullptr;
        if (sd_bus_message_read(m, "s", &key) < 0 || !key) return -EINVAL;
        auto value = readValue(m);
        if (!value)
            return sd_bus_error_setf(e, kErrorInvalidArgument, "%s: a value of a type the device does not keep, nothing applied",
                                     printable(key).c_str());
        changes[key] = std::move(*value);
        if (sd_bus_message_exit_container(m) < 0) return -EINVAL;
    }
    sd_bus_message_exit_container(m);
    auto* s = static_cast<State*>(u);
    return command(m, u, e, "SetHardware", [&] { return setHardware(s->host.device, changes); });
}

// The key names of GetHardware and ResetHardware, a bounded few.
int readKeyNames(sd_bus_message* m, sd_bus_error* e, std::vector<std::string>& names) {
    if (int r = sd_bus_message_enter_container(m, 'a', "s"); r < 0) return r;
    for (const char* key = nullptr; sd_bus_message_at_end(m, false) == 0;) {
        if (names.size() == kMaxHardwareListItems)
            return sd_bus_error_setf(e, kErrorInvalidArgument, "more than %zu keys", kMaxHardwareListItems);
        if (int r = sd_bus_message_read(m, "s", &key); r < 0 || !key) return r < 0 ? r : -EINVAL;
        names.emplace_back(key);
    }
    return sd_bus_message_exit_container(m) < 0 ? -EINVAL : 1;
}

int onGetHardware(sd_bus_message* m, void* u, sd_bus_error* e) {
    std::vector<std::string> names;
    if (int r = readKeyNames(m, e, names); r <= 0) return r;
    auto values = getHardware(names);
    if (!values) return sd_bus_error_set(e, values.error().name.c_str(), values.error().message.c_str());
    std::string json = std::move(*values);
    return static_cast<State*>(u)->replyAfterRoundTrip(
        m, e, [json](sd_bus_message* call) { return sd_bus_reply_method_return(call, "s", json.c_str()); }, true);
}

int onResetHardware(sd_bus_message* m, void* u, sd_bus_error* e) {
    std::vector<std::string> names;
    if (int r = readKeyNames(m, e, names); r <= 0) return r;
    auto* s = static_cast<State*>(u);
    return command(m, u, e, "ResetHardware", [&] { return resetHardware(s->host.device, names); });
}

int onStatus(sd_bus_message* m, void* u, sd_bus_error* e) {
    auto* s = static_cast<State*>(u);
    bool safeMode = s->host.safeMode;
    return s->replyAfterRoundTrip(
        m, e,
        [safeMode](sd_bus_message* call) {
            return sd_bus_reply_method_return(call, "s", jsonDump(statusJson(::getpid(), safeMode)).c_str());
        },
        true);
}

int onStatusLine(sd_bus_message* m, void* u, sd_bus_error* e) {
    auto* s = static_cast<State*>(u);
    bool safeMode = s->host.safeMode;
    return s->replyAfterRoundTrip(
        m, e, [safeMode](sd_bus_message* call) { return sd_bus_reply_method_return(call, "s", statusLine(safeMode).c_str()); },
        true);
}

int getProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply, void* u, sd_bus_error*) {
    auto* s = static_cast<State*>(u);
    for (const auto& p : properties())
        if (std::strcmp(p.name, property) == 0) {
            if (s->emitting) return p.append(reply, *s->emitting);  // the values of the redraw announced
            return p.append(reply, snapshot(s->host.safeMode));
        }
    return -ENOENT;
}

const sd_bus_vtable kMethods[] = {
    SD_BUS_METHOD("Tap", "", "", onTap, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Lock", "", "", onLock, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Unlock", "", "", onUnlock, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("OpenNotificationCenter", "", "", onOpenNotificationCenter, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("CloseNotificationCenter", "", "", onCloseNotificationCenter, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("AnswerAlert", "ts", SD_BUS_PARAM(id) SD_BUS_PARAM(button), "", , onAnswerAlert,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SetHardware", "a{sv}", SD_BUS_PARAM(changes), "", , onSetHardware, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetHardware", "as", SD_BUS_PARAM(keys), "s", SD_BUS_PARAM(json), onGetHardware,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("ResetHardware", "as", SD_BUS_PARAM(keys), "", , onResetHardware, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("Status", "", , "s", SD_BUS_PARAM(json), onStatus, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("StatusLine", "", , "s", SD_BUS_PARAM(line), onStatusLine, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL_WITH_NAMES("StatusBarRedrawn", "t", SD_BUS_PARAM(count), 0),
};

// The methods and the signal, then a property for each row of properties().
const sd_bus_vtable* vtable() {
    static const std::vector<sd_bus_vtable> table = [] {
        std::vector<sd_bus_vtable> t{SD_BUS_VTABLE_START(0)};
        t.insert(t.end(), std::begin(kMethods), std::end(kMethods));
        for (const auto& p : properties())
            t.push_back(SD_BUS_PROPERTY(p.name, p.signature, getProperty, 0,
                                        p.changed ? SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE : SD_BUS_VTABLE_PROPERTY_CONST));
        t.push_back(SD_BUS_VTABLE_END);
        return t;
    }();
    return table.data();
}

int onNameChange(sd_bus_message* m, void*, sd_bus_error*) {
    const char* name = nullptr;
    if (sd_bus_message_read(m, "s", &name) < 0 || !name || std::strcmp(name, kSpringBoardBusName) != 0) return 0;
    if (std::strcmp(sd_bus_message_get_member(m), "NameLost") == 0)
        NSLog("SpringBoard: another client took %s; queued to have it back when it leaves", name);
    else
        NSLog("SpringBoard: owns %s", name);
    return 0;
}

}  // namespace

void exitWhenDisconnected(sd_bus* bus, const char* which) {
    // With a status of its own: launchd starts SpringBoard again without counting a crash.
    sd_bus_match_signal(
        bus, nullptr, "org.freedesktop.DBus.Local", "/org/freedesktop/DBus/Local", "org.freedesktop.DBus.Local", "Disconnected",
        [](sd_bus_message* m, void* which, sd_bus_error*) {
            NSLog(
                "SpringBoard: the device bus closed the %s connection; exiting for launchd to "
                "start SpringBoard again",
                static_cast<const char*>(which));
            if (sd_event* event = sd_bus_get_event(sd_bus_message_get_bus(m))) {
                sd_event_exit(event, kLostBusExitStatus);
            } else {
                exitNow(kLostBusExitStatus);
            }
            return 0;
        },
        const_cast<char*>(which));
}

DeviceService::DeviceService(ServiceHost host) : s_(std::make_unique<State>()) { s_->host = std::move(host); }

DeviceService::~DeviceService() {
    s_->waiting.clear();
    s_->bus.reset();
}

// Served at a higher priority than the notification connection, and the owner of SpringBoard's
// name. The name is queued for, never handed over: a client that takes it while we are away
// gives it back by leaving.
bool DeviceService::open(const std::string& address) {
    int r = sd_bus_new(platform::out(s_->bus));
    sd_bus* raw = s_->bus.get();
    if (r >= 0) r = sd_bus_set_address(raw, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(raw, 1);
    if (r >= 0) r = sd_bus_start(raw);
    if (r >= 0) r = sd_bus_attach_event(raw, s_->host.loop->event(), SD_EVENT_PRIORITY_IMPORTANT);
    if (r >= 0) r = sd_bus_add_object_vtable(raw, nullptr, kControlObjectPath, kControlInterface, vtable(), s_.get());
    for (const char* member : {"NameLost", "NameAcquired"})
        if (r >= 0)
            r = sd_bus_match_signal(raw, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", member,
                                    onNameChange, nullptr);
    if (r >= 0)
        r = sd_bus_request_name_async(raw, nullptr, kSpringBoardBusName, SD_BUS_NAME_REPLACE_EXISTING | SD_BUS_NAME_QUEUE,
                                      nullptr, nullptr);
    if (r < 0) {
        NSLog("SpringBoard: the control interface is not available: %s", platform::errorText(-r).c_str());
        s_->bus.reset();
        return false;
    }
    exitWhenDisconnected(raw, "control");
    return true;
}

void DeviceService::redrawn(uint64_t count) {
    sd_bus* bus = s_->bus.get();
    if (!bus) return;
    Snapshot now = snapshot(s_->host.safeMode);
    const Snapshot& was = s_->last;
    std::vector<const char*> changed;
    for (const auto& p : properties())
        if (p.changed && p.changed(now, was)) changed.push_back(p.name);
    s_->last = std::move(now);
    if (!changed.empty()) {
        changed.push_back(nullptr);
        s_->emitting = &s_->last;
        sd_bus_emit_properties_changed_strv(bus, kControlObjectPath, kControlInterface, const_cast<char**>(changed.data()));
        s_->emitting = nullptr;
    }
    // One signal per change: a redraw that draws what the last one drew (a command's reply
    // redraws after the change's own redraw) tells a watcher nothing.
    std::string drawn = jsonDump(statusJson(::getpid(), s_->host.safeMode));
    if (drawn == s_->lastDrawn) return;
    s_->lastDrawn = std::move(drawn);
    // After the properties: whoever waits for the redraw has its new values already.
    sd_bus_emit_signal(bus, kControlObjectPath, kControlInterface, kRedrawnSignal, "t", count);
}

void DeviceService::afterReplies(std::function<void()> work) {
    s_->afterReplies.push_back(std::move(work));
    // Looked at after the event: the command that asked may still be adding its own reply.
    State* s = s_.get();
    s->host.loop->perform([s] { s->runAfterReplies(); });
}

void DeviceService::notificationHandled() {
    ++s_->notificationsHandled;
    auto waiting = s_->waiting;
    for (auto& p : waiting)
        if (s_->notificationsHandled - p->handledAtStart >= kBacklog) s_->answer(p);
}

}  // namespace vantrel::sim
