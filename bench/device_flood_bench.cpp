// SpringBoard under floods, on a device of its own: how long a tap waits for its answer while
// 100,000 full refreshes (code 99) are queued ahead of it, and SpringBoard's resident memory
// before and after 300,000 notifications whose code is no integer. Counters: tap p50/p99 in ms
// over the taps answered while the flood was still being handled; resident KiB and the ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "platform/foundation/dbus_notifications.h"
#include "bench/device_process.h"
#include "platform/foundation/file.h"
#include "platform/foundation/sd_ptr.h"
#include "platform/foundation/sdevent_runloop.h"

namespace {

using vantrel::bench::runDevice;

struct FloodDevice {
    std::string folder, address;
    platform::SdEventRunLoop loop;
    std::unique_ptr<platform::DBusNotificationCenter> center;
    platform::BusPtr control;  // the control tool's own connection
    bool ok = false;

    FloodDevice() {
        char tmpl[] = "/tmp/vantrel-flood-bench-XXXXXX";
        folder = ::mkdtemp(tmpl);
        if (runDevice(folder, "start", "--fresh") != 0) return;
        auto a = platform::readWholeFile(folder + "/run/bus.address", 4096);
        if (!a) return;
        address.assign(a->begin(), a->end());
        center = std::make_unique<platform::DBusNotificationCenter>(address, loop);
        if (sd_bus_new(platform::out(control)) < 0) return;
        sd_bus_set_address(control.get(), address.c_str());
        sd_bus_set_bus_client(control.get(), 1);
        ok = center->isConnected() && sd_bus_start(control.get()) >= 0;
    }
    ~FloodDevice() {
        control.reset();
        center.reset();
        runDevice(folder, "stop");
        std::system(("rm -rf '" + folder + "'").c_str());
    }

    // One call of the device interface; its text ("ok" when it returns none), or empty when it failed.
    std::string call(const char* method) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        platform::MessagePtr reply;
        std::string text;
        int r = sd_bus_call_method(control.get(), "com.apple.springboard", "/com/apple/springboard",
                                   "com.quennick.vantrel.Device", method, &error, platform::out(reply), "");
        const char* out = nullptr;
        if (r >= 0) text = sd_bus_message_read(reply.get(), "s", &out) > 0 && out ? out : "ok";
        sd_bus_error_free(&error);
        return text;
    }
    long alertCount() {
        std::smatch m;
        std::string s = call("Status");
        return std::regex_search(s, m, std::regex("\"count\":(\\d+)")) ? std::stol(m[1].str()) : 0;
    }
    long residentKiB() {
        std::smatch m;
        std::string s = call("Status");
        if (!std::regex_search(s, m, std::regex("\"springboardPid\":(\\d+)"))) return -1;
        std::ifstream in("/proc/" + m[1].str() + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
        return -1;
    }
    void post(const platform::Dictionary& info, int times) {
        for (int i = 0; i < times; ++i) {
            center->post("vantrel.SettingsChanged", &info);
            if (i % 5000 == 4999) sd_bus_flush(center->bus());
        }
        sd_bus_flush(center->bus());
    }
    bool waitFor(const std::function<bool()>& done, double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return true;
    }
};

void BM_TapDuringFlood(benchmark::State& state) {
    FloodDevice device;
    if (!device.ok) {
        state.SkipWithError("the device did not start (build vantrel-device first)");
        return;
    }
    std::vector<double> samples;
    for (auto _ : state) {
        device.post({{"itemToggled", 99}}, 100000);
        device.post({{"itemToggled", "end"}}, 1);  // its alert shows when the flood is through
        for (int i = 0; i < 200 && device.alertCount() == 0; ++i) {
            auto start = std::chrono::steady_clock::now();
            if (device.call("Tap").empty()) {
                state.SkipWithError("a tap was not answered");
                break;
            }
            samples.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        bool still = device.alertCount() == 0;
        state.counters["flood_outlasted_taps"] = still ? 1 : 0;
        device.waitFor([&] { return device.alertCount() > 0; }, 1200);
    }
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) { return samples[std::min(samples.size() - 1, static_cast<size_t>(q * samples.size()))] * 1e3; };
    state.counters["taps"] = static_cast<double>(samples.size());
    state.counters["tap_p50_ms"] = at(0.50);
    state.counters["tap_p99_ms"] = at(0.99);
}

void BM_MemoryAfterBadCodes(benchmark::State& state) {
    FloodDevice device;
    if (!device.ok) {
        state.SkipWithError("the device did not start (build vantrel-device first)");
        return;
    }
    for (auto _ : state) {
        device.post({{"itemToggled", 1}}, 1000);  // warm up as the rest of the run will
        long before = device.residentKiB();
        device.post({{"itemToggled", "ninety-nine"}}, 300000);
        if (!device.waitFor([&] { return device.alertCount() == 300000; }, 1200)) {
            state.SkipWithError("the bad notifications were not all handled");
            break;
        }
        long after = device.residentKiB();
        state.counters["rss_kib_before"] = static_cast<double>(before);
        state.counters["rss_kib_after"] = static_cast<double>(after);
        state.counters["ratio"] = static_cast<double>(after) / static_cast<double>(before);
        state.counters["status_json_bytes"] = static_cast<double>(device.call("Status").size());
    }
}

BENCHMARK(BM_TapDuringFlood)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_MemoryAfterBadCodes)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
