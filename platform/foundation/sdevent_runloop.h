// The hosts' main run loop on sd-event: timers (accurate to 1 us, not sd-event's default
// 250 ms of slack), work performed from any thread (woken through an eventfd), file descriptors
// watched for input (the terminal), and the D-Bus connection attached through event().
// Everything but perform() and exit() belongs to the thread that runs the loop. Failures of
// sd-event calls are logged; a loop that could not be created runs nothing and says so.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/runloop.h"

struct sd_event;

namespace platform {

class SdEventRunLoop : public RunLoop {
public:
    SdEventRunLoop();
    ~SdEventRunLoop() override;
    SdEventRunLoop(const SdEventRunLoop&) = delete;
    SdEventRunLoop& operator=(const SdEventRunLoop&) = delete;

    bool isValid() const;
    double now() const override;
    void perform(std::function<void()> fn) override;

    // Calls onReadable on this loop whenever fd has input or hangs up. The fd is not owned.
    // Returns false when sd-event refused it.
    bool watchInput(int fd, std::function<void()> onReadable);
    // Calls onSignal on this loop each time sig arrives (blocked for every thread of the
    // process from here on). Returns false when sd-event refused it.
    bool watchSignal(int sig, std::function<void()> onSignal);
    // Ends run() with the given code after the current callback. Thread-safe.
    void exit(int code = 0);
    // Ends run() on SIGTERM, SIGINT or SIGHUP (blocked for every thread of the process) with
    // the code 128 + the signal.
    void exitOnTerminationSignals();

    // Runs until exit(); returns its code (or a negative errno).
    int run();
    // Runs at most one iteration, waiting up to timeoutSeconds; false once the loop has ended.
    bool runOnce(double timeoutSeconds);
    // Runs until done() is true or timeoutSeconds pass; returns done().
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds);

    // The underlying event loop, owned by this object (to attach a bus connection).
    sd_event* event() const;

protected:
    void addTimer(const std::shared_ptr<Timer>& timer) override;
    void removeTimer(Timer* timer) override;
    std::vector<std::shared_ptr<Timer>> scheduledTimers() const override;

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace platform
