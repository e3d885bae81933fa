// The tweak's hot paths: one filter decision, one full iconTesterInit refresh, start-up of the
// library (dlopen to the end of method installation), one animation frame and one clock-mode step.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/foundation/home.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/runloop.h"
#include "platform/foundation/sd_ptr.h"
#include "platform/springboard/springboard.h"
#include "shared/settings.h"
#include "tweak/core/startup.h"
#include "tweak/core/state.h"
#include "tweak/timetext/timetext.h"

using namespace vantrel;

namespace {

std::string makeHome() {
    char tmpl[] = "/tmp/vantrel-bench-XXXXXX";
    return mkdtemp(tmpl);
}

// A SpringBoard with the tweak installed in this process, on a manual loop.
struct Installed {
    std::unique_ptr<platform::ManualRunLoop> loop = std::make_unique<platform::ManualRunLoop>();
    platform::InProcessNotificationCenter center;
    Installed() {
        platform::setLogToStderr(false);
        platform::setHomeDirectory(makeHome());
        platform::RunLoop::setMain(loop.get());
        platform::NotificationCenter::setDistributed(&center);
        platform::registerSpringBoardClasses();
        tweak::startUp();
        writePreferences(PreferenceFile::IconTester, defaultPreferences(PreferenceFile::IconTester));
    }
    // Frame timers are not kept by anyone; a fresh loop drops the ones a benchmark piled up.
    void freshLoop() {
        auto next = std::make_unique<platform::ManualRunLoop>();
        platform::RunLoop::setMain(next.get());
        loop = std::move(next);
    }
};

Installed& installed() {
    static Installed i;
    return i;
}

id agg() { return platform::statusBarAggregator(); }

// Start-up in a fresh child each time: the library can be loaded once per process.
void BM_StartUp(benchmark::State& state) {
    const std::string home = makeHome();
    platform::setHomeDirectory(home);
    writePreferences(PreferenceFile::Main, defaultPreferences(PreferenceFile::Main));
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) return state.SkipWithError("pipe");
        platform::Fd readEnd(fds[0]), writeEnd(fds[1]);
        pid_t child = fork();
        if (child == 0) {
            readEnd.reset();
            platform::setLogToStderr(false);
            platform::registerSpringBoardClasses();
            auto t0 = std::chrono::steady_clock::now();
            void* handle = dlopen(VANTREL_DYLIB, RTLD_NOW | RTLD_LOCAL);
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            if (!handle) seconds = -1;
            (void)!write(writeEnd.get(), &seconds, sizeof seconds);
            _exit(0);
        }
        writeEnd.reset();
        double seconds = -1;
        (void)!read(readEnd.get(), &seconds, sizeof seconds);
        readEnd.reset();
        waitpid(child, nullptr, 0);
        if (seconds < 0) return state.SkipWithError("dlopen failed");
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_StartUp)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

void BM_FilterDecision(benchmark::State& state) {
    installed();
    SEL setItem = tweak::sel("_setItem:enabled:");
    int item = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(msgSend<bool>(agg(), setItem, item, true));
        item = (item + 1) % 25;
    }
}
BENCHMARK(BM_FilterDecision)->Unit(benchmark::kMicrosecond);

int decisionsPerRefresh() {
    static int counted = -1;
    static IMP previous;
    if (counted >= 0) return counted;
    counted = 0;
    Class cls = objc_getClass("SBStatusBarStateAggregator");
    SEL s = tweak::sel("_setItem:enabled:");
    auto counter = +[](id self, SEL cmd, int item, bool enabled) {
        ++counted;
        return callImp<bool>(previous, self, cmd, item, enabled);
    };
    MSHookMessageEx(cls, s, runtime::imp(counter), &previous);
    msgSend<void>(agg(), tweak::sel("iconTesterInit"));
    IMP ours;
    MSHookMessageEx(cls, s, previous, &ours);  // back as it was
    return counted;
}

void BM_IconTesterInitRefresh(benchmark::State& state) {
    installed();
    const int decisions = decisionsPerRefresh();
    SEL refresh = tweak::sel("iconTesterInit");
    for (auto _ : state) msgSend<void>(agg(), refresh);
    state.counters["decisions"] = decisions;
}
BENCHMARK(BM_IconTesterInitRefresh)->Unit(benchmark::kMicrosecond);

// One frame: draw the window, set the pattern, render the time item (through the filter).
void BM_AnimationFrame(benchmark::State& state) {
    auto& env = installed();
    const int n = static_cast<int>(state.range(0));
    std::string text = "'";
    while (static_cast<int>(text.size()) < n - 1) text += "Quennick ";
    text.resize(static_cast<size_t>(n - 1));
    text += "'";
    tweak::timeText = text;
    msgSend<void>(agg(), tweak::sel("animateText"));  // fills the lists; draws frame -20
    const std::vector<std::u16string> list = tweak::myStr;
    SEL shuffle = tweak::sel("shuffle:array:");
    const int start = n / 2;  // a full window of 20 random characters
    int64_t sinceFresh = 0;
    for (auto _ : state) {
        msgSend<void>(agg(), shuffle, start, &list);
        if (++sinceFresh == 2000) {
            state.PauseTiming();
            env.freshLoop();
            sinceFresh = 0;
            state.ResumeTiming();
        }
    }
    env.freshLoop();
    tweak::resetState();
}
BENCHMARK(BM_AnimationFrame)->Arg(12)->Arg(200)->Unit(benchmark::kMicrosecond);

void BM_ClockModeStep(benchmark::State& state) {
    installed();
    const int mode = static_cast<int>(state.range(0));
    writePreferences(PreferenceFile::Main, {{"clockformat", mode}, {"1224", true}, {"ramtime", true}});
    tweak::resetState();
    for (auto _ : state) tweak::clockModeStep(agg(), tweak::ClockEntry::Refresh);
    tweak::resetState();
}
BENCHMARK(BM_ClockModeStep)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
