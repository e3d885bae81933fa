#include "platform/foundation/runloop.h"

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/foundation/log.h"

namespace platform {
namespace {
std::atomic<RunLoop*> mainLoop{nullptr};
std::atomic<uint64_t> nextSequence{1};
}  // namespace

RunLoop& RunLoop::main() {
    if (RunLoop* loop = mainLoop.load()) return *loop;
    // A stand-in loop that never runs would swallow every timer and delivery without a word:
    // stop where the mistake is instead.
    static constexpr char kMessage[] = "RunLoop::main() was called before a main run loop was set; stopping";
    (void)std::fprintf(stderr, "%s\n", kMessage);
    setLogToStderr(false);  // stderr has it already; the device's log file gets it too
    NSLog("%s", kMessage);
    std::abort();
}

void RunLoop::setMain(RunLoop* loop) { mainLoop.store(loop); }

void RunLoop::setClockOffset(double seconds) {
    const double delta = seconds - clockOffset_;
    clockOffset_ = seconds;
    for (auto& t : scheduledTimers()) t->setFireDate(t->fireDate() + delta);
}

Timer::Timer(RunLoop& loop, double interval, Repeats repeats, Callback cb, Dictionary userInfo)
    : loop_(loop),
      interval_(interval),
      repeats_(repeats),
      callback_(std::move(cb)),
      userInfo_(std::move(userInfo)),
      sequence_(nextSequence++) {}

std::shared_ptr<Timer> Timer::scheduled(double interval, Repeats repeats, Callback callback, Dictionary userInfo) {
    return scheduled(RunLoop::main(), interval, repeats, std::move(callback), std::move(userInfo));
}

std::shared_ptr<Timer> Timer::scheduled(RunLoop& loop, double interval, Repeats repeats, Callback callback, Dictionary userInfo) {
    // NSTimer treats a non-positive interval as 0.1 ms; a repeating timer must move on.
    if (!(interval > 0)) interval = 0.0001;
    std::shared_ptr<Timer> t(new Timer(loop, interval, repeats, std::move(callback), std::move(userInfo)));
    t->fireDate_ = loop.now() + interval;
    loop.addTimer(t);
    return t;
}

void Timer::invalidate() {
    if (!valid_) return;
    valid_ = false;
    loop_.removeTimer(this);
}

void Timer::fire() {
    if (!valid_) return;
    auto self = shared_from_this();  // the callback may drop the last outside handle
    if (repeats_ == Repeats::Yes) {
        fireDate_ += interval_;
        if (fireDate_ <= loop_.now()) fireDate_ = loop_.now() + interval_;  // skip missed ticks
    } else {
        valid_ = false;
        loop_.removeTimer(this);
    }
    try {
        if (callback_) callback_(*this);
    } catch (...) {
        NSLog("A timer callback threw; the timer goes on");
    }
}

void PendingWork::add(std::function<void()> fn) {
    std::lock_guard lock(m_);
    queue_.push_back(std::move(fn));
}

bool PendingWork::runQueued() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(m_);
        batch.swap(queue_);
    }
    for (auto& fn : batch) {
        try {
            fn();
        } catch (...) {
            NSLog("Work performed on the run loop threw");
        }
    }
    return !batch.empty();
}

struct ManualRunLoop::State {
    mutable std::mutex m;
    std::vector<std::shared_ptr<Timer>> timers;
    PendingWork pending;
};

ManualRunLoop::ManualRunLoop(double start) : s_(std::make_unique<State>()), now_(start) {}
ManualRunLoop::~ManualRunLoop() = default;

void ManualRunLoop::perform(std::function<void()> fn) { s_->pending.add(std::move(fn)); }

void ManualRunLoop::runPending() {
    while (s_->pending.runQueued()) {}
}

void ManualRunLoop::advance(double seconds) {
    runPending();
    // Timers' fire dates are on now(), the offset included; now_ is the loop's own clock.
    const double end = now_ + clockOffset_ + seconds;
    for (;;) {
        std::shared_ptr<Timer> next;
        {
            std::lock_guard lock(s_->m);
            for (auto& t : s_->timers) {
                if (t->fireDate() > end + 1e-9) continue;
                if (!next || t->fireDate() < next->fireDate() - 1e-9 ||
                    (std::abs(t->fireDate() - next->fireDate()) <= 1e-9 && t->sequence() < next->sequence()))
                    next = t;
            }
        }
        if (!next) break;
        now_ = std::max(now_, next->fireDate() - clockOffset_);
        next->fire();
        runPending();
    }
    now_ = end - clockOffset_;
}

size_t ManualRunLoop::timerCount() const {
    std::lock_guard lock(s_->m);
    return s_->timers.size();
}

void ManualRunLoop::addTimer(const std::shared_ptr<Timer>& timer) {
    std::lock_guard lock(s_->m);
    s_->timers.push_back(timer);
}

std::vector<std::shared_ptr<Timer>> ManualRunLoop::scheduledTimers() const {
    std::lock_guard lock(s_->m);
    return s_->timers;
}

void ManualRunLoop::removeTimer(Timer* timer) {
    std::lock_guard lock(s_->m);
    std::erase_if(s_->timers, [timer](const auto& t) { return t.get() == timer; });
}

}  // namespace platform
