// The commands that are clients of SpringBoard's bus interface, and `keys`. A device that is not
// running is said as "not running: DIR" before any call; `set` checks its words against the
// hardware table first, so a bad value is refused even with no device to send it to.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <systemd/sd-bus.h>
#include <time.h>

#include "sim/device/cli.h"
#include "sim/common/usage.h"
#include "sim/common/hardware_keys.h"
#include "sim/common/json.h"
#include "sim/common/safety.h"

namespace vantrel::sim::cli {
namespace {

// What the names of SpringBoard's errors mean to whoever typed the command.
std::string explain(const Error& e) {
    std::string message = displayable(e.message);
    if (e.name == kErrorNoSuchAlert) return "no such alert: " + message;
    if (e.name == kErrorInvalidArgument) return "invalid argument: " + message;
    if (e.name == kErrorNotAllowed) return "not allowed: " + message;
    return message;
}

int callPrinting(const DeviceFolder& device, const char* method, const ControlArguments& arguments = nullptr) {
    if (!running(device)) return 1;
    auto text = control(device, method, arguments, kControlTimeout);
    if (!text) {
        std::cerr << "vantrel-device: " << explain(text.error()) << "\n";
        return 1;
    }
    if (!text->empty()) std::cout << displayable(*text) << "\n";
    return 0;
}

int appendStrings(sd_bus_message* m, const std::vector<std::string>& words) {
    int r = sd_bus_message_open_container(m, 'a', "s");
    for (const auto& w : words)
        if (r >= 0) r = sd_bus_message_append(m, "s", w.c_str());
    return r < 0 ? r : sd_bus_message_close_container(m);
}

double machineNow() {
    timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The table as text: left-aligned columns, the meaning last.
void printKeyTable() {
    const platform::DeviceState fresh;
    std::vector<std::vector<std::string>> rows = {{"KEY", "TYPE", "VALUES", "DEFAULT", "MEANING"}};
    for (const auto& k : hardwareKeys())
        rows.push_back({std::string(k.name), std::string(typeName(k.type)), validValues(k),
                        hardwareWord(hardwareValue(k, fresh, 0)), std::string(k.meaning)});
    constexpr size_t kAligned = 4;
    size_t width[kAligned] = {};
    for (const auto& r : rows)
        for (size_t c = 0; c < kAligned; ++c) width[c] = std::max(width[c], r[c].size());
    for (const auto& r : rows) {
        std::string line;
        for (size_t c = 0; c < kAligned; ++c) line += r[c] + std::string(width[c] - r[c].size() + 2, ' ');
        std::cout << line << r[kAligned] << "\n";
    }
}

}  // namespace

bool running(const DeviceFolder& device) {
    auto launchd = runningLaunchd(device);
    if (!launchd) {
        std::cerr << "vantrel-device: " << launchd.error().message << "\n";
        return false;
    }
    if (!*launchd)
        std::cerr << "vantrel-device: not running: " << device.root << " (" << deviceCommand(device, "start") << " starts it)\n";
    return launchd->has_value();
}

int ping(const DeviceFolder& device) {
    if (!running(device)) return 1;
    auto r = control(device, "Ping", nullptr, kControlTimeout, "org.freedesktop.DBus.Peer");
    if (!r) {
        std::cerr << "vantrel-device: " << explain(r.error()) << "\n";
        return 1;
    }
    std::cout << "pong\n";
    return 0;
}

int status(const DeviceFolder& device, bool json) { return callPrinting(device, json ? "Status" : "StatusLine"); }

// One line of what was done, after SpringBoard said it was.
int saying(int code, bool quiet, const std::string& done) {
    if (code == 0 && !quiet) std::cout << displayable(done) << "\n";
    return code;
}

int call(const DeviceFolder& device, const char* method, bool quiet) {
    static const std::pair<std::string_view, const char*> kDone[] = {
        {"Tap", "tapped the status bar"},
        {"Lock", "locked"},
        {"Unlock", "unlocked"},
        {"OpenNotificationCenter", "opened Notification Centre"},
        {"CloseNotificationCenter", "closed Notification Centre"},
    };
    std::string done = method;
    for (const auto& [name, text] : kDone)
        if (name == method) done = text;
    return saying(callPrinting(device, method), quiet, done);
}

int answerAlert(const DeviceFolder& device, const std::string& idText, const std::string& button, bool quiet) {
    uint64_t id = 0;
    auto [end, ec] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
    if (idText.empty() || ec != std::errc() || end != idText.data() + idText.size()) {
        std::cerr << "vantrel-device: an alert id is a number (from status --json), not " << idText << "\n";
        return 2;
    }
    int code = callPrinting(device, "AnswerAlert",
                            [&](sd_bus_message* m) { return sd_bus_message_append(m, "ts", id, button.c_str()); });
    return saying(code, quiet, "answered alert " + std::to_string(id) + " with " + button);
}

int set(const DeviceFolder& device, const std::vector<std::string>& words, bool quiet) {
    platform::Dictionary changes;
    for (const auto& w : words) {
        auto eq = w.find('=');
        if (eq == std::string::npos || eq == 0) {
            std::string hint = findHardwareKey(w) ? " (" + w + "=VALUE)" : "";
            std::cerr << "vantrel-device: set takes KEY=VALUE words, not " << w << hint << "\n";
            return 2;
        }
        // Every value goes as the text typed: SpringBoard parses it by the key's type, as here.
        changes[w.substr(0, eq)] = platform::Value(w.substr(eq + 1));
    }
    std::vector<std::string> unknown;
    for (const auto& [key, value] : changes)
        if (!findHardwareKey(key)) unknown.push_back(key);
    if (!unknown.empty()) {
        std::cerr << "vantrel-device: set: " << unknownHardwareKeys(unknown, "; nothing applied") << "\n";
        return 1;
    }
    if (auto checked = hardwareEntries(changes, platform::DeviceState{}, machineNow()); !checked) {
        std::cerr << "vantrel-device: set: " << checked.error().message << "\n";
        return 1;
    }
    int code = callPrinting(device, "SetHardware", [&](sd_bus_message* m) { return appendHardwareChanges(m, changes); });
    std::string done = "set";
    for (const auto& [key, value] : changes) done += " " + key + "=" + (value.string() ? *value.string() : std::string());
    return saying(code, quiet, done);
}

int get(const DeviceFolder& device, const std::vector<std::string>& names, bool json) {
    // The same table as SpringBoard's: a slip is said alike, running or not.
    if (auto checked = hardwareValues(names, platform::DeviceState{}, 0); !checked) {
        std::cerr << "vantrel-device: get: " << checked.error().message << "\n";
        return 1;
    }
    auto launchd = runningLaunchd(device);
    if (!launchd) {
        std::cerr << "vantrel-device: get: " << launchd.error().message << "\n";
        return 1;
    }
    Result<Json> values = failure("");
    if (*launchd) {
        auto text = control(
            device, "GetHardware", [&](sd_bus_message* m) { return appendStrings(m, names); }, kControlTimeout);
        if (!text) {
            std::cerr << "vantrel-device: get: " << explain(text.error()) << "\n";
            return 1;
        }
        values = Json::parse(*text, nullptr, false);
        if (values->is_discarded() || !values->is_object()) values = failure("SpringBoard's answer is no JSON object");
    } else {
        // A stopped device shows what it would start with: device.plist over a fresh device's.
        platform::DeviceState state;
        state.apply(readDeviceState(device));
        values = hardwareValues(names, state, machineNow());
    }
    if (!values) {
        std::cerr << "vantrel-device: get: " << values.error().message << "\n";
        return 1;
    }
    if (json) {
        std::cout << jsonDump(*values) << "\n";
        return 0;
    }
    for (const auto& [key, value] : values->items()) std::cout << displayable(key + "=" + hardwareWord(value)) << "\n";
    return 0;
}

int reset(const DeviceFolder& device, const std::vector<std::string>& names, bool all, bool quiet) {
    if (!all && names.empty()) {
        std::cerr << "vantrel-device: reset: no keys given: name the keys, or --all for every one\n"
                  << "Run '" << typedCommand("vantrel-device", "reset --help") << "' for the usage.\n";
        return 2;
    }
    std::vector<std::string> keys = names;
    if (all)
        for (const auto& k : hardwareKeys()) keys.emplace_back(k.name);
    if (auto defaults = hardwareDefaults(keys); !defaults) {
        std::cerr << "vantrel-device: reset: " << defaults.error().message << "\n";
        return 1;
    }
    int code = callPrinting(device, "ResetHardware", [&](sd_bus_message* m) { return appendStrings(m, keys); });
    std::string done = "reset";
    if (all) done += " every key to a fresh device's value";
    for (size_t i = 0; !all && i < keys.size(); ++i) done += " " + keys[i];
    return saying(code, quiet, done);
}

int keys(bool json) {
    if (!json) {
        printKeyTable();
        return 0;
    }
    Json list = Json::array();
    for (const auto& k : hardwareKeys()) list.push_back(hardwareKeyJson(k));
    std::cout << jsonDump(list) << "\n";
    return 0;
}

}  // namespace vantrel::sim::cli
