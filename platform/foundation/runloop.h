// The main run loop and its timers. Timers fire their callback on the thread that runs the
// loop, after their interval and again at every interval while they repeat; an invalidated
// timer never fires again. As with NSTimer, the loop keeps a scheduled timer alive until it is
// invalidated (or, one-shot, has fired): a timer nobody keeps a handle to still fires.
// Two implementations: ManualRunLoop (tests step its clock by hand) and the sd-event loop of
// the hosts. now() is the clock the time item shows, so stepping it fixes the displayed time.
// A device clock set to another time is an offset on now(): timers keep their pace through it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/value.h"

namespace platform {

class Timer;

class RunLoop {
public:
    virtual ~RunLoop() = default;
    // Seconds since the Unix epoch on this loop's clock.
    virtual double now() const = 0;
    // Runs fn on this loop after the current callback returns. Thread-safe.
    virtual void perform(std::function<void()> fn) = 0;

    // Moves now() by seconds from the loop's own clock (0: the machine's). Scheduled timers'
    // fire dates move with it, so each still fires after the interval it was given.
    void setClockOffset(double seconds);
    double clockOffset() const { return clockOffset_; }

    // The process's main run loop; hosts and tests install one first. Asking before one is
    // installed is a programming error: it is said on stderr and in the log, then the process aborts.
    static RunLoop& main();
    static void setMain(RunLoop* loop);

protected:
    friend class Timer;
    virtual void addTimer(const std::shared_ptr<Timer>& timer) = 0;
    virtual void removeTimer(Timer* timer) = 0;
    // The scheduled timers, for moving their fire dates with the clock.
    virtual std::vector<std::shared_ptr<Timer>> scheduledTimers() const = 0;
    double clockOffset_ = 0;
};

class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Callback = std::function<void(Timer&)>;
    enum class Repeats { No, Yes };

    // scheduledTimerWithTimeInterval:target:selector:userInfo:repeats: on the main loop.
    static std::shared_ptr<Timer> scheduled(double interval, Repeats repeats, Callback callback, Dictionary userInfo = {});
    static std::shared_ptr<Timer> scheduled(RunLoop& loop, double interval, Repeats repeats, Callback callback,
                                            Dictionary userInfo = {});

    void invalidate();
    bool isValid() const { return valid_; }
    bool repeats() const { return repeats_ == Repeats::Yes; }
    double timeInterval() const { return interval_; }
    double fireDate() const { return fireDate_; }
    const Dictionary& userInfo() const { return userInfo_; }

    // For run loop implementations: fire once and move the fire date on.
    void fire();
    void setFireDate(double t) { fireDate_ = t; }
    uint64_t sequence() const { return sequence_; }

private:
    Timer(RunLoop& loop, double interval, Repeats repeats, Callback cb, Dictionary userInfo);
    RunLoop& loop_;
    double interval_;
    Repeats repeats_;
    Callback callback_;
    Dictionary userInfo_;
    double fireDate_ = 0;
    bool valid_ = true;
    uint64_t sequence_;
};

// Work performed on a loop, for run loop implementations: queued from any thread, run on the
// loop's own thread in order; what a piece throws is logged and the rest still runs.
class PendingWork {
public:
    void add(std::function<void()> fn);
    // Runs what was queued before the call (work it queues waits for the next call); false
    // when there was nothing.
    bool runQueued();

private:
    std::mutex m_;
    std::deque<std::function<void()>> queue_;
};

// A run loop whose clock moves only when a test says so.
class ManualRunLoop : public RunLoop {
public:
    explicit ManualRunLoop(double start = 1796636460.0);  // 2026-12-07 09:41:00 UTC
    ~ManualRunLoop() override;
    double now() const override { return now_ + clockOffset_; }
    void perform(std::function<void()> fn) override;

    // Runs performed work, then fires every timer that falls due within the next `seconds`, in
    // order of fire date (ties in order of creation), with the clock set to each fire date.
    void advance(double seconds);
    // Runs performed work (and work it performs in turn) without moving the clock.
    void runPending();
    size_t timerCount() const;

protected:
    void addTimer(const std::shared_ptr<Timer>& timer) override;
    void removeTimer(Timer* timer) override;
    std::vector<std::shared_ptr<Timer>> scheduledTimers() const override;

private:
    struct State;
    std::unique_ptr<State> s_;
    double now_;
};

}  // namespace platform
