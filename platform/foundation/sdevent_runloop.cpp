#include "platform/foundation/sdevent_runloop.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <unordered_map>
#include <vector>

#include <sys/eventfd.h>
#include <systemd/sd-event.h>
#include <time.h>
#include <unistd.h>

#include "platform/foundation/error_text.h"
#include "platform/foundation/log.h"
#include "platform/foundation/sd_ptr.h"

namespace platform {
namespace {

uint64_t monotonicMicroseconds() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

using SourcePtr = EventSourcePtr;

}  // namespace

struct SdEventRunLoop::State {
    SdEventRunLoop* owner = nullptr;
    EventPtr event;
    Fd wakeFd;
    SourcePtr wakeSource;
    PendingWork pending;

    struct Scheduled {
        std::shared_ptr<Timer> timer;  // the loop keeps a scheduled timer alive
        SourcePtr source;
    };
    std::unordered_map<Timer*, Scheduled> timers;

    struct Input {
        std::function<void()> onReadable;
        SourcePtr source;
    };
    std::vector<std::unique_ptr<Input>> inputs;

    // The monotonic deadline of a fire date on the wall clock.
    uint64_t deadline(double fireDate) const {
        double delay = fireDate - owner->now();
        if (delay < 0) delay = 0;
        return monotonicMicroseconds() + static_cast<uint64_t>(delay * 1e6);
    }
};

SdEventRunLoop::SdEventRunLoop() : s_(std::make_unique<State>()) {
    s_->owner = this;
    int r = sd_event_new(out(s_->event));
    if (r < 0) {
        NSLog("The run loop could not be created: %s", errorText(-r).c_str());
        return;
    }
    s_->wakeFd.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!s_->wakeFd) {
        NSLog("The run loop has no wake-up: %s", errorText(errno).c_str());
        return;
    }
    auto onWake = +[](sd_event_source*, int fd, uint32_t, void* userdata) -> int {
        uint64_t count;
        while (::read(fd, &count, sizeof count) > 0) {}
        static_cast<State*>(userdata)->pending.runQueued();
        return 0;
    };
    r = sd_event_add_io(s_->event.get(), out(s_->wakeSource), s_->wakeFd.get(), EPOLLIN, onWake, s_.get());
    if (r < 0) NSLog("The run loop cannot watch its wake-up: %s", errorText(-r).c_str());
}

SdEventRunLoop::~SdEventRunLoop() {
    s_->timers.clear();
    s_->inputs.clear();
    s_->wakeSource.reset();
    s_->wakeFd.reset();
}

bool SdEventRunLoop::isValid() const { return s_->event && s_->wakeSource; }

sd_event* SdEventRunLoop::event() const { return s_->event.get(); }

double SdEventRunLoop::now() const {
    timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9 + clockOffset_;
}

// The sd-event sources keep their monotonic deadlines: only the fire dates move with the clock.
std::vector<std::shared_ptr<Timer>> SdEventRunLoop::scheduledTimers() const {
    std::vector<std::shared_ptr<Timer>> all;
    for (const auto& [timer, scheduled] : s_->timers) all.push_back(scheduled.timer);
    return all;
}

void SdEventRunLoop::perform(std::function<void()> fn) {
    s_->pending.add(std::move(fn));
    uint64_t one = 1;
    if (s_->wakeFd && ::write(s_->wakeFd.get(), &one, sizeof one) < 0 && errno != EAGAIN)
        NSLog("The run loop could not be woken: %s", errorText(errno).c_str());
}

void SdEventRunLoop::addTimer(const std::shared_ptr<Timer>& timer) {
    if (!s_->event) {
        NSLog("A timer was scheduled on a run loop that does not exist");
        return;
    }
    auto onTimer = +[](sd_event_source* source, uint64_t, void* userdata) -> int {
        auto* state = static_cast<State*>(userdata);
        // Found by source, so a timer removed meanwhile never fires.
        for (auto& [timer, scheduled] : state->timers) {
            if (scheduled.source.get() != source) continue;
            std::shared_ptr<Timer> keep = scheduled.timer;
            keep->fire();  // a one-shot timer removes itself here
            auto it = state->timers.find(keep.get());
            if (it != state->timers.end() && keep->isValid()) {
                sd_event_source_set_time(it->second.source.get(), state->deadline(keep->fireDate()));
                sd_event_source_set_enabled(it->second.source.get(), SD_EVENT_ONESHOT);
            }
            break;
        }
        return 0;
    };
    SourcePtr source;
    // Accuracy 1 us: the default slack would make 0.2 s frames arrive late.
    int r =
        sd_event_add_time(s_->event.get(), out(source), CLOCK_MONOTONIC, s_->deadline(timer->fireDate()), 1, onTimer, s_.get());
    if (r < 0) {
        NSLog("A timer could not be scheduled: %s", errorText(-r).c_str());
        return;
    }
    s_->timers[timer.get()] = State::Scheduled{timer, std::move(source)};
}

void SdEventRunLoop::removeTimer(Timer* timer) {
    auto it = s_->timers.find(timer);
    if (it == s_->timers.end()) return;
    // Move out first: dropping the last handle may destroy the timer while we still look at it.
    State::Scheduled gone = std::move(it->second);
    s_->timers.erase(it);
}

bool SdEventRunLoop::watchInput(int fd, std::function<void()> onReadable) {
    if (!s_->event) return false;
    auto onInput = +[](sd_event_source*, int, uint32_t, void* userdata) -> int {
        auto* input = static_cast<State::Input*>(userdata);
        try {
            if (input->onReadable) input->onReadable();
        } catch (...) {
            NSLog("An input handler threw");
        }
        return 0;
    };
    auto input = std::make_unique<State::Input>();
    input->onReadable = std::move(onReadable);
    int r = sd_event_add_io(s_->event.get(), out(input->source), fd, EPOLLIN | EPOLLHUP, onInput, input.get());
    if (r < 0) {
        NSLog("Input %d cannot be watched: %s", fd, errorText(-r).c_str());
        return false;
    }
    s_->inputs.push_back(std::move(input));
    return true;
}

bool SdEventRunLoop::watchSignal(int sig, std::function<void()> onSignal) {
    if (!s_->event) return false;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    auto onArrival = +[](sd_event_source*, const signalfd_siginfo*, void* userdata) -> int {
        auto* handler = static_cast<State::Input*>(userdata);
        try {
            if (handler->onReadable) handler->onReadable();
        } catch (...) {
            NSLog("A signal handler threw");
        }
        return 0;
    };
    auto handler = std::make_unique<State::Input>();
    handler->onReadable = std::move(onSignal);
    int r = sd_event_add_signal(s_->event.get(), out(handler->source), sig, onArrival, handler.get());
    if (r < 0) {
        NSLog("Signal %d cannot be watched: %s", sig, errorText(-r).c_str());
        return false;
    }
    s_->inputs.push_back(std::move(handler));
    return true;
}

void SdEventRunLoop::exit(int code) {
    perform([this, code] {
        if (s_->event) sd_event_exit(s_->event.get(), code);
    });
}

void SdEventRunLoop::exitOnTerminationSignals() {
    if (!s_->event) return;
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        // No handler: sd-event ends the loop with the userdata as its code, 128 + signal as a
        // shell reports it, so whoever waits for us can tell a kill from a quit.
        // NOLINTNEXTLINE(performance-no-int-to-ptr): sd-event takes the exit code as the userdata
        void* code = reinterpret_cast<void*>(static_cast<intptr_t>(128 + sig));
        int r = sd_event_add_signal(s_->event.get(), nullptr, sig, nullptr, code);
        if (r < 0) NSLog("Signal %d cannot be watched: %s", sig, errorText(-r).c_str());
    }
}

int SdEventRunLoop::run() {
    if (!s_->event) return -EINVAL;
    s_->pending.runQueued();
    return sd_event_loop(s_->event.get());
}

bool SdEventRunLoop::runOnce(double timeoutSeconds) {
    if (!s_->event) return false;
    if (sd_event_get_state(s_->event.get()) == SD_EVENT_FINISHED) return false;
    uint64_t usec = timeoutSeconds <= 0 ? 0 : static_cast<uint64_t>(timeoutSeconds * 1e6);
    int r = sd_event_run(s_->event.get(), usec);
    return r >= 0 && sd_event_get_state(s_->event.get()) != SD_EVENT_FINISHED;
}

bool SdEventRunLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (!done()) {
        double left = std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        if (!runOnce(left)) break;
    }
    return done();
}

}  // namespace platform
