#include "sim/view/device_link.h"

#include <chrono>

#include <systemd/sd-bus.h>

#include "platform/foundation/sd_ptr.h"
#include "sim/view/svg.h"

namespace vantrel::sim::view {
namespace {

constexpr uint64_t kWaitMicroseconds = 250'000;  // how soon a stop or a retry is noticed
constexpr uint64_t kCallMicroseconds = 3'000'000;

struct Pending {
    bool dirty = true;
    std::atomic<uint64_t>* redraws = nullptr;
};

int onRedrawn(sd_bus_message*, void* userdata, sd_bus_error*) {
    auto* p = static_cast<Pending*>(userdata);
    p->dirty = true;
    ++*p->redraws;
    return 0;
}

int onOwnerChanged(sd_bus_message*, void* userdata, sd_bus_error*) {
    static_cast<Pending*>(userdata)->dirty = true;  // SpringBoard came or went: a respring
    return 0;
}

}  // namespace

DeviceLink::DeviceLink(DeviceFolder device) : device_(std::move(device)) {
    auto first = std::make_shared<Snapshot>();
    first->reason = "connecting to the device at " + device_.root;
    first->svg = renderPhone(Json(), first->reason);
    latest_ = std::move(first);
}

DeviceLink::~DeviceLink() { stop(); }

void DeviceLink::start() {
    thread_ = std::thread([this] { run(); });
}

void DeviceLink::halt() {
    {
        std::lock_guard lock(mutex_);  // no waiter misses it between its test and its wait
        stopping_ = true;
    }
    changed_.notify_all();
}

void DeviceLink::stop() {
    halt();
    if (thread_.joinable()) thread_.join();
}

std::shared_ptr<const Snapshot> DeviceLink::latest() const {
    std::lock_guard lock(mutex_);
    return latest_;
}

std::shared_ptr<const Snapshot> DeviceLink::waitNewer(uint64_t seen, double timeoutSeconds) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return stopping_ || latest_->version > seen; });
    return latest_;
}

void DeviceLink::publish(bool running, Json status, std::string reason) {
    {
        std::lock_guard lock(mutex_);
        // A device that stays down is said once, not once per retry.
        if (!running && !latest_->running && latest_->reason == reason) return;
    }
    auto next = std::make_shared<Snapshot>();
    next->running = running;
    next->reason = std::move(reason);
    next->svg = renderPhone(status, next->reason);
    next->status = std::move(status);
    std::lock_guard lock(mutex_);
    next->version = latest_->version + 1;
    latest_ = std::move(next);
    changed_.notify_all();
}

void DeviceLink::run() {
    while (!stopping_) {
        if (auto address = busAddress(device_))
            follow(*address);
        else
            publish(false, Json(), "the device at " + device_.root + " is not running");
        if (stopping_) break;
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(500), [&] { return stopping_.load(); });
    }
}

void DeviceLink::follow(const std::string& address) {
    auto opened = openDeviceBus(address, static_cast<double>(kCallMicroseconds) / 1e6);
    platform::BusPtr bus = opened ? std::move(*opened) : platform::BusPtr();
    int r = opened ? 0 : -ENOENT;
    if (r < 0) {
        publish(false, Json(), "the device bus cannot be joined; is the device at " + device_.root + " running?");
        return;
    }
    Pending pending;
    pending.redraws = &redraws_;
    platform::SlotPtr redrawn, owner;
    r = sd_bus_match_signal(bus.get(), platform::out(redrawn), kSpringBoardBusName, kControlObjectPath, kControlInterface,
                            kRedrawnSignal, onRedrawn, &pending);
    if (r >= 0)
        r = sd_bus_add_match(bus.get(), platform::out(owner),
                             "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',arg0='com.apple.springboard'",
                             onOwnerChanged, &pending);
    if (r < 0) {
        publish(false, Json(), "cannot listen to SpringBoard's signals on the device bus");
        return;
    }
    bool retrying = false;
    while (!stopping_) {
        // Take everything queued first, so a burst of redraws costs one Status read.
        while ((r = sd_bus_process(bus.get(), nullptr)) > 0) {}
        if (r < 0) break;  // the bus went away: the device stopped
        if (pending.dirty) {
            pending.dirty = false;
            sd_bus_error error = SD_BUS_ERROR_NULL;
            platform::MessagePtr reply;
            r = sd_bus_call_method(bus.get(), kSpringBoardBusName, kControlObjectPath, kControlInterface, "Status", &error,
                                   platform::out(reply), "");
            const char* text = nullptr;
            if (r >= 0 && sd_bus_message_read(reply.get(), "s", &text) >= 0 && text) {
                Json status = Json::parse(text, nullptr, false);
                // Its texts are user input: bounded here, so that pages and streams never carry more.
                if (status.is_object())
                    publish(true, boundTexts(status), "");
                else
                    publish(false, Json(), "SpringBoard's status is not JSON");
                retrying = false;
            } else {
                publish(false, Json(), "SpringBoard does not answer (restarting?)");
                retrying = true;
            }
            sd_bus_error_free(&error);
            continue;
        }
        r = sd_bus_wait(bus.get(), kWaitMicroseconds);
        if (r < 0) break;
        if (r == 0 && retrying) pending.dirty = true;
    }
    if (!stopping_) publish(false, Json(), "the device at " + device_.root + " stopped");
}

}  // namespace vantrel::sim::view
