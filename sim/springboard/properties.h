// The control interface's read-only properties: what SpringBoard shows, taken as a snapshot at
// each redraw, and one table of them read by the vtable, Get and PropertiesChanged.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <systemd/sd-bus.h>

namespace vantrel::sim {

struct Alert {
    uint64_t id;
    std::string title, message;
    std::vector<std::string> buttons;
    bool operator==(const Alert&) const = default;
};

// What the properties show; the one of the last redraw tells which changed.
struct Snapshot {
    bool locked = false;
    std::vector<bool> items;
    std::string timeText, timePattern, serviceText;
    int dataNetworkType = 0;
    std::vector<Alert> alerts;
    bool safeMode = false;
};

// The properties' values now: SpringBoard's status bar and alerts, every text bounded.
Snapshot snapshot(bool safeMode);

// Each read-only property once: its name and signature (the vtable), how it is appended (Get),
// and whether it changed between two redraws (PropertiesChanged). No change check: constant.
struct Property {
    const char* name;
    const char* signature;
    int (*append)(sd_bus_message*, const Snapshot&);
    bool (*changed)(const Snapshot& now, const Snapshot& was);
};

std::span<const Property> properties();

}  // namespace vantrel::sim
