// The view's link to SpringBoard: a thread of its own joins the device bus, listens for
// StatusBarRedrawn and reads Status() after each one (bursts coalesce into one read), and keeps
// the latest snapshot with its drawing. A device that is not running or stops is retried every
// half second; its snapshot then says why. Readers on any thread take shared snapshots and may
// wait for the next one. The link never changes the device; actions go through control().
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/common/device.h"
#include "sim/common/json.h"

namespace vantrel::sim::view {

struct Snapshot {          // NOLINT(bugprone-exception-escape): its members move without throwing
    uint64_t version = 0;  // raised at each new snapshot
    bool running = false;
    Json status;         // Status() as parsed; null when not running
    std::string reason;  // why there is no status
    std::string svg;     // the phone drawn from it
};

class DeviceLink {
public:
    explicit DeviceLink(DeviceFolder device);
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    ~DeviceLink();

    void start();
    // Wakes every waiter and asks the thread to end, without waiting for it.
    void halt();
    // Ends the thread and wakes every waiter; idempotent.
    void stop();
    bool stopping() const { return stopping_; }

    std::shared_ptr<const Snapshot> latest() const;
    // The first snapshot newer than `seen`, or the latest when timeoutSeconds pass or the link stops.
    std::shared_ptr<const Snapshot> waitNewer(uint64_t seen, double timeoutSeconds) const;
    // StatusBarRedrawn signals received so far.
    uint64_t redraws() const { return redraws_; }

    const DeviceFolder& device() const { return device_; }

private:
    void run();
    void publish(bool running, Json status, std::string reason);
    // One connection's life: until it drops or the link stops.
    void follow(const std::string& address);

    DeviceFolder device_;
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> redraws_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::shared_ptr<const Snapshot> latest_;
    std::thread thread_;
};

}  // namespace vantrel::sim::view
