// From a settings change posted on the device bus to the SpringBoard host's redrawn status bar,
// on a device of its own: this program plays the Settings host (writes the main preference
// file, then posts), SpringBoard answers every redraw with a signal. Reported per change as
// p50 and p99 over 1,000 changes, for one item (code 13, "alarm") and a full refresh (99).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "platform/foundation/dbus_notifications.h"
#include "bench/device_process.h"
#include "platform/foundation/file.h"
#include "platform/foundation/home.h"
#include "platform/foundation/sd_ptr.h"
#include "platform/foundation/sdevent_runloop.h"
#include "shared/settings.h"

namespace {

constexpr double kReaper = 10.0;

using vantrel::bench::runDevice;

struct BenchDevice {
    std::string folder;
    platform::SdEventRunLoop loop;
    std::unique_ptr<platform::DBusNotificationCenter> center;
    platform::SlotPtr slot;
    uint64_t redraws = 0;
    bool ok = false;

    BenchDevice() {
        char tmpl[] = "/tmp/vantrel-bench-XXXXXX";
        folder = ::mkdtemp(tmpl);
        if (runDevice(folder, "start", "--fresh") != 0) return;
        auto address = platform::readWholeFile(folder + "/run/bus.address", 4096);
        if (!address) return;
        center = std::make_unique<platform::DBusNotificationCenter>(std::string(address->begin(), address->end()), loop);
        if (!center->isConnected()) return;
        sd_bus_match_signal(
            center->bus(), platform::out(slot), nullptr, "/com/apple/springboard", "com.quennick.vantrel.Device",
            "StatusBarRedrawn",
            [](sd_bus_message*, void* self, sd_bus_error*) {
                ++static_cast<BenchDevice*>(self)->redraws;
                return 0;
            },
            this);
        platform::setHomeDirectory(folder + "/var/mobile");
        platform::NotificationCenter::setDistributed(center.get());
        ok = true;
    }
    ~BenchDevice() {
        platform::NotificationCenter::setDistributed(nullptr);
        slot.reset();
        center.reset();
        runDevice(folder, "stop");
        std::system(("rm -rf '" + folder + "'").c_str());
    }
};

void changeToRedraw(benchmark::State& state, const char* key, int code) {
    BenchDevice device;
    if (!device.ok) {
        state.SkipWithError("the device did not start (build vantrel-device first)");
        return;
    }
    auto prefs = vantrel::readPreferencesForUpdate(vantrel::PreferenceFile::Main);
    bool value = false;
    std::vector<double> samples;
    for (auto _ : state) {
        value = !value;
        prefs[key] = value;
        vantrel::writePreferences(vantrel::PreferenceFile::Main, prefs);
        const uint64_t before = device.redraws;
        auto start = std::chrono::steady_clock::now();
        vantrel::postSettingsChanged(code);
        if (!device.loop.runUntil([&] { return device.redraws > before; }, kReaper)) {
            state.SkipWithError("SpringBoard did not redraw");
            break;
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds);
        // Let any trailing redraw of this change pass before the next one starts.
        device.loop.runUntil([] { return false; }, 0.0005);
    }
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) { return samples[std::min(samples.size() - 1, static_cast<size_t>(q * samples.size()))] * 1e3; };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
    prefs[key] = false;
    vantrel::writePreferences(vantrel::PreferenceFile::Main, prefs);
}

void BM_OneItemChangeToRedraw(benchmark::State& state) { changeToRedraw(state, "alarm", 13); }
void BM_FullRefreshToRedraw(benchmark::State& state) { changeToRedraw(state, "hideall", 99); }

BENCHMARK(BM_OneItemChangeToRedraw)->UseManualTime()->Iterations(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullRefreshToRedraw)->UseManualTime()->Iterations(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
