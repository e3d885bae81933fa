#include "sim/springboard/properties.h"

#include "platform/device/device_state.h"
#include "platform/springboard/springboard.h"
#include "platform/uikit/alert.h"
#include "shared/settings.h"
#include "sim/springboard/status.h"

namespace vantrel::sim {
namespace {

int appendAlerts(sd_bus_message* reply, const Snapshot& s) {
    int r = sd_bus_message_open_container(reply, 'a', "(tssas)");
    for (const auto& a : s.alerts) {
        if (r >= 0) r = sd_bus_message_open_container(reply, 'r', "tssas");
        if (r >= 0) r = sd_bus_message_append(reply, "tss", a.id, a.title.c_str(), a.message.c_str());
        if (r >= 0) r = sd_bus_message_open_container(reply, 'a', "s");
        for (const auto& b : a.buttons)
            if (r >= 0) r = sd_bus_message_append(reply, "s", b.c_str());
        if (r >= 0) r = sd_bus_message_close_container(reply);
        if (r >= 0) r = sd_bus_message_close_container(reply);
    }
    return r < 0 ? r : sd_bus_message_close_container(reply);
}

int appendItems(sd_bus_message* reply, const Snapshot& s) {
    int r = sd_bus_message_open_container(reply, 'a', "(isb)");
    for (size_t i = 0; r >= 0 && i < s.items.size(); ++i)
        r = sd_bus_message_append(reply, "(isb)", static_cast<int>(i), kItemHideKeys[i], static_cast<int>(s.items[i]));
    return r < 0 ? r : sd_bus_message_close_container(reply);
}

const Property kProperties[] = {
    {"Locked", "b",
     [](sd_bus_message* m, const Snapshot& s) { return sd_bus_message_append(m, "b", static_cast<int>(s.locked)); },
     [](const Snapshot& a, const Snapshot& b) { return a.locked != b.locked; }},
    {"Items", "a(isb)", appendItems, [](const Snapshot& a, const Snapshot& b) { return a.items != b.items; }},
    {"TimeText", "s", [](sd_bus_message* m, const Snapshot& s) { return sd_bus_message_append(m, "s", s.timeText.c_str()); },
     [](const Snapshot& a, const Snapshot& b) { return a.timeText != b.timeText; }},
    {"TimePattern", "s",
     [](sd_bus_message* m, const Snapshot& s) { return sd_bus_message_append(m, "s", s.timePattern.c_str()); },
     [](const Snapshot& a, const Snapshot& b) { return a.timePattern != b.timePattern; }},
    {"ServiceText", "s",
     [](sd_bus_message* m, const Snapshot& s) { return sd_bus_message_append(m, "s", s.serviceText.c_str()); },
     [](const Snapshot& a, const Snapshot& b) { return a.serviceText != b.serviceText; }},
    {"DataNetworkType", "i",
     [](sd_bus_message* m, const Snapshot& s) { return sd_bus_message_append(m, "i", s.dataNetworkType); },
     [](const Snapshot& a, const Snapshot& b) { return a.dataNetworkType != b.dataNetworkType; }},
    {"Alerts", "a(tssas)", appendAlerts, [](const Snapshot& a, const Snapshot& b) { return a.alerts != b.alerts; }},
    {"SafeMode", "b",
     [](sd_bus_message* m, const Snapshot& s) { return sd_bus_message_append(m, "b", static_cast<int>(s.safeMode)); }, nullptr},
};

}  // namespace

Snapshot snapshot(bool safeMode) {
    Snapshot s;
    s.locked = platform::deviceState().locked;
    s.safeMode = safeMode;
    if (auto* a = platform::statusBarAggregator()) {
        s.items.assign(a->itemEnabled.begin(), a->itemEnabled.end());
        s.timeText = bounded(a->timeItemText);
        s.timePattern = bounded(a->_timeItemDateFormatter ? a->_timeItemDateFormatter->dateFormatUtf8() : std::string());
        s.serviceText = bounded(a->serviceText.value_or(""));
        s.dataNetworkType = a->dataNetworkType;
    } else {
        s.items.assign(platform::kStatusBarItemCount, false);
    }
    for (const auto& alert : platform::visibleAlerts()) {
        if (s.alerts.size() == kListedAlerts) break;
        std::vector<std::string> buttons;
        for (const auto& b : alert->buttonTitles())
            if (buttons.size() < kListedAlerts) buttons.push_back(bounded(b));
        s.alerts.push_back({alert->alertId(), bounded(alert->title()), bounded(alert->message()), std::move(buttons)});
    }
    return s;
}

std::span<const Property> properties() { return kProperties; }

}  // namespace vantrel::sim
