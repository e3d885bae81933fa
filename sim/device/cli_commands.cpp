// The commands that are clients of SpringBoard's bus interface, and `keys`. A device that is not
// running is said as "not running: DIR" before any call; `set` checks its words against the
// hardware table first, so a bad value is refused even with no device to send it to.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
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

double machineNow() {
    timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The table as text: four left-aligned columns.
void printKeyTable() {
    std::vector<std::vector<std::string>> rows = {{"KEY", "TYPE", "VALUES", "MEANING"}};
    for (const auto& k : hardwareKeys())
        rows.push_back({std::string(k.name), std::string(typeName(k.type)), validValues(k), std::string(k.meaning)});
    size_t width[3] = {0, 0, 0};
    for (const auto& r : rows)
        for (size_t c = 0; c < 3; ++c) width[c] = std::max(width[c], r[c].size());
    for (const auto& r : rows) {
        std::string line;
        for (size_t c = 0; c < 3; ++c) line += r[c] + std::string(width[c] - r[c].size() + 2, ' ');
        std::cout << line << r[3] << "\n";
    }
}

}  // namespace

bool running(const DeviceFolder& device) {
    auto launchd = runningLaunchd(device);
    if (!launchd) {
        std::cerr << "vantrel-device: " << launchd.error().message << "\n";
        return false;
    }
    if (!*launchd) std::cerr << "vantrel-device: not running: " << device.root << "\n";
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

int call(const DeviceFolder& device, const char* method) { return callPrinting(device, method); }

int answerAlert(const DeviceFolder& device, const std::string& idText, const std::string& button) {
    uint64_t id = 0;
    auto [end, ec] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
    if (idText.empty() || ec != std::errc() || end != idText.data() + idText.size()) {
        std::cerr << "vantrel-device: an alert id is a number (from status --json), not " << idText << "\n";
        return 2;
    }
    return callPrinting(device, "AnswerAlert",
                        [&](sd_bus_message* m) { return sd_bus_message_append(m, "ts", id, button.c_str()); });
}

int set(const DeviceFolder& device, const std::vector<std::string>& words) {
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
    if (auto checked = hardwareEntries(changes, platform::DeviceState{}, machineNow()); !checked) {
        std::cerr << "vantrel-device: " << checked.error().message << "\n";
        std::vector<std::string> names;
        for (const auto& k : hardwareKeys()) names.emplace_back(k.name);
        for (const auto& [key, value] : changes)
            if (auto near = findHardwareKey(key) ? "" : nearest(key, names).value_or(""); !near.empty())
                std::cerr << "vantrel-device: " << key << ": did you mean " << near << "?\n";
        return 1;
    }
    return callPrinting(device, "SetHardware", [&](sd_bus_message* m) { return appendHardwareChanges(m, changes); });
}

int keys(bool json) {
    if (!json) {
        printKeyTable();
        return 0;
    }
    Json list = Json::array();
    for (const auto& k : hardwareKeys()) {
        Json row = {{"key", std::string(k.name)},
                    {"type", std::string(typeName(k.type))},
                    {"values", validValues(k)},
                    {"meaning", std::string(k.meaning)},
                    {"changes", std::string(k.changes)}};
        if (k.type == HardwareType::Int || k.type == HardwareType::OptionalInt) {
            row["min"] = k.min;
            row["max"] = k.max == kNoUpperBound ? Json() : Json(k.max);
        }
        list.push_back(std::move(row));
    }
    std::cout << jsonDump(list) << "\n";
    return 0;
}

}  // namespace vantrel::sim::cli
