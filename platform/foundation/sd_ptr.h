// Owners for the C objects of sd-bus and sd-event, and for file descriptors: each pointer type
// holds one reference and drops it with the library's own unref when it goes (a bus is flushed
// and closed first; an event source is disabled first so it can never fire again). A borrowed
// object stays a raw pointer. Fd owns one descriptor and closes it once. Any thread, as long as
// the object itself is used on one; nothing here fails or throws.
#pragma once

#include <memory>
#include <utility>

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

namespace platform {

namespace sd_detail {
struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
struct EventUnref {
    void operator()(sd_event* event) const { sd_event_unref(event); }
};
struct SourceUnref {
    void operator()(sd_event_source* source) const { sd_event_source_disable_unref(source); }
};
}  // namespace sd_detail

using BusPtr = std::unique_ptr<sd_bus, sd_detail::BusUnref>;
using MessagePtr = std::unique_ptr<sd_bus_message, sd_detail::MessageUnref>;
using SlotPtr = std::unique_ptr<sd_bus_slot, sd_detail::SlotUnref>;
using EventPtr = std::unique_ptr<sd_event, sd_detail::EventUnref>;
using EventSourcePtr = std::unique_ptr<sd_event_source, sd_detail::SourceUnref>;

// Fills an owner through a C out-parameter: sd_bus_new(out(bus)). Whatever the owner held is
// dropped first; the owner takes what the call wrote when the expression ends.
template <class Ptr>
class OutParam {
public:
    explicit OutParam(Ptr& owner) : owner_(owner) { owner_.reset(); }
    ~OutParam() { owner_.reset(raw_); }
    OutParam(const OutParam&) = delete;
    OutParam& operator=(const OutParam&) = delete;
    operator typename Ptr::pointer *() { return &raw_; }

private:
    Ptr& owner_;
    typename Ptr::pointer raw_ = nullptr;
};
template <class Ptr>
OutParam<Ptr> out(Ptr& owner) {
    return OutParam<Ptr>(owner);
}

// One file descriptor, closed when the owner goes; -1 is none.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now and says whether close succeeded (a write's last error can surface here).
    bool close() {
        int fd = release();
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_ = -1;
};

}  // namespace platform
