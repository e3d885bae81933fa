// SpringBoard's typed interface on a device of its own: a property read (Locked, Items) against a
// Status() call, and how soon a subscriber hears PropertiesChanged after a command that redraws
// (Lock and Unlock in turn). Counters: p50/p99 in ms from the call going out, and from its reply
// (the redraw follows the reply on SpringBoard's loop), to the PropertiesChanged naming Locked.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "bench/device_process.h"
#include "platform/foundation/file.h"

namespace {

constexpr char kName[] = "com.apple.springboard";
constexpr char kPath[] = "/com/apple/springboard";
constexpr char kInterface[] = "com.quennick.vantrel.Device";
using Clock = std::chrono::steady_clock;

using vantrel::bench::runDevice;

struct BusCloser {
    void operator()(sd_bus* b) const { sd_bus_flush_close_unref(b); }
};
using Bus = std::unique_ptr<sd_bus, BusCloser>;

struct InterfaceDevice {
    std::string folder, address;
    Bus client, subscriber;
    bool ok = false;

    Bus connect() {
        sd_bus* raw = nullptr;
        if (sd_bus_new(&raw) < 0) return nullptr;
        Bus bus(raw);
        sd_bus_set_address(raw, address.c_str());
        sd_bus_set_bus_client(raw, 1);
        return sd_bus_start(raw) >= 0 ? std::move(bus) : nullptr;
    }
    InterfaceDevice() {
        char tmpl[] = "/tmp/vantrel-interface-bench-XXXXXX";
        folder = ::mkdtemp(tmpl);
        if (runDevice(folder, "start", "--fresh") != 0) return;
        auto a = platform::readWholeFile(folder + "/run/bus.address", 4096);
        if (!a) return;
        address.assign(a->begin(), a->end());
        while (!address.empty() && address.back() == '\n') address.pop_back();
        client = connect();
        subscriber = connect();
        ok = client && subscriber;
    }
    ~InterfaceDevice() {
        client.reset();
        subscriber.reset();
        runDevice(folder, "stop");
        std::system(("rm -rf '" + folder + "'").c_str());
    }
};

void BM_PropertyRead(benchmark::State& state, const char* property, const char* type) {
    InterfaceDevice device;
    if (!device.ok) return state.SkipWithError("the device did not start (build vantrel-device first)");
    for (auto _ : state) {
        sd_bus_message* reply = nullptr;
        if (sd_bus_get_property(device.client.get(), kName, kPath, kInterface, property, nullptr, &reply, type) < 0)
            return state.SkipWithError("the property was not read");
        sd_bus_message_unref(reply);
    }
}

void BM_StatusCall(benchmark::State& state) {
    InterfaceDevice device;
    if (!device.ok) return state.SkipWithError("the device did not start (build vantrel-device first)");
    for (auto _ : state) {
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(device.client.get(), kName, kPath, kInterface, "Status", nullptr, &reply, "") < 0)
            return state.SkipWithError("Status() failed");
        sd_bus_message_unref(reply);
    }
}

struct Watch {
    bool changed = false;
    bool replied = false;
    Clock::time_point changedAt, repliedAt;
};

void BM_PropertiesChangedAfterRedraw(benchmark::State& state) {
    InterfaceDevice device;
    if (!device.ok) return state.SkipWithError("the device did not start (build vantrel-device first)");
    Watch watch;
    auto onChanged = [](sd_bus_message* m, void* userdata, sd_bus_error*) {
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0 || sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return 0;
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* name = nullptr;
            sd_bus_message_read(m, "s", &name);
            if (name && std::strcmp(name, "Locked") == 0) {
                auto* w = static_cast<Watch*>(userdata);
                w->changed = true;
                w->changedAt = Clock::now();
            }
            sd_bus_message_skip(m, "v");
            sd_bus_message_exit_container(m);
        }
        return 0;
    };
    sd_bus_match_signal(device.subscriber.get(), nullptr, kName, kPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                        onChanged, &watch);
    sd_bus_call_method(device.subscriber.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
                       nullptr, nullptr, "");  // the match is in place
    std::vector<double> fromCall, fromReply;
    bool lock = true;
    for (auto _ : state) {
        watch = Watch{};
        auto start = Clock::now();
        auto onReply = [](sd_bus_message*, void* userdata, sd_bus_error*) {
            auto* w = static_cast<Watch*>(userdata);
            w->replied = true;
            w->repliedAt = Clock::now();
            return 0;
        };
        sd_bus_call_method_async(device.client.get(), nullptr, kName, kPath, kInterface, lock ? "Lock" : "Unlock", onReply,
                                 &watch, "");
        lock = !lock;
        const auto end = start + std::chrono::seconds(10);
        while ((!watch.changed || !watch.replied) && Clock::now() < end) {
            int a = sd_bus_process(device.client.get(), nullptr);
            int b = sd_bus_process(device.subscriber.get(), nullptr);
            if (a > 0 || b > 0) continue;
            sd_bus_wait(device.subscriber.get(), 200);  // short: the client's reply comes on the other connection
        }
        if (!watch.changed || !watch.replied) return state.SkipWithError("no PropertiesChanged within 10 s");
        fromCall.push_back(std::chrono::duration<double>(watch.changedAt - start).count());
        fromReply.push_back(std::chrono::duration<double>(watch.changedAt - watch.repliedAt).count());
    }
    auto at = [](std::vector<double> v, double q) {
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))] * 1e3;
    };
    state.counters["call_to_changed_p50_ms"] = at(fromCall, 0.50);
    state.counters["call_to_changed_p99_ms"] = at(fromCall, 0.99);
    state.counters["reply_to_changed_p50_ms"] = at(fromReply, 0.50);
    state.counters["reply_to_changed_p99_ms"] = at(fromReply, 0.99);
}

BENCHMARK_CAPTURE(BM_PropertyRead, Locked, "Locked", "b")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PropertyRead, Items, "Items", "a(isb)")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatusCall)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PropertiesChangedAfterRedraw)->Iterations(1000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
