#include "sim/springboard/status.h"

#include "platform/device/device_state.h"
#include "platform/springboard/springboard.h"
#include "platform/uikit/alert.h"
#include "shared/settings.h"

namespace vantrel::sim {
namespace {

std::string timePattern(const platform::SBStatusBarStateAggregator& a) {
    return a._timeItemDateFormatter ? a._timeItemDateFormatter->dateFormatUtf8() : std::string();
}

std::string signalBars(int bars) {
    if (bars < 0) bars = 0;
    if (bars > 5) bars = 5;
    std::string s;
    for (int i = 0; i < 5; ++i) s += i < bars ? "●" : "○";
    return s;
}

std::string itemText(const platform::SBStatusBarStateAggregator& a, int item) {
    const auto& d = platform::deviceState();
    switch (item) {
    case 0: return a.timeItemText.empty() ? "(time)" : a.timeItemText;
    case 3: return signalBars(d.signalBars);
    case 4: {
        std::string s = a.serviceText ? *a.serviceText : "No Service";
        if (a.emergencyOnly) s += " (SOS only)";
        return s;
    }
    case 5: return platform::dataNetworkLabel(a.dataNetworkType);
    case 1: return "☾";
    case 2: return "✈";
    case 7: return std::string("▮") + (d.charging ? "⚡" : "");
    case 8: return std::to_string(d.batteryLevel) + "%";
    case 9: return d.bluetoothBatteryLevel ? "BT " + std::to_string(*d.bluetoothBatteryLevel) + "%" : "BT";
    case 10: return "BT▮";
    case 11: return "ᛒ";
    case 12: return "TTY";
    case 13: return "⏰";
    case 16: return "➤";
    case 17: return "⟲";
    case 19: return "AirPlay";
    case 20: return "Siri";
    case 21: return "VPN";
    case 22: return "↪";
    case 23: return "⟳";
    case 24: return "♫";
    case 25: return "sync";
    default: return kItemHideKeys[static_cast<size_t>(item)];
    }
}

}  // namespace

std::string statusLine(bool safeMode) {
    auto* a = platform::statusBarAggregator();
    if (!a) return "(no SpringBoard)";
    std::string line = safeMode ? "[safe mode] " : "";
    if (platform::deviceState().locked) line += "[locked] ";
    std::string items;
    for (int i = 0; i < platform::kStatusBarItemCount; ++i) {
        if (!a->itemEnabled[static_cast<size_t>(i)]) continue;
        if (!items.empty()) items += " | ";
        items += itemText(*a, i);
    }
    line += items.empty() ? "(empty status bar)" : items;
    if (a->tethering) line += " [tethering: " + std::to_string(a->tetheredDevices) + "]";
    if (auto* nc = platform::notificationCenterViewController(); nc && nc->open)
        line += nc->statusBarLoaded ? " [Notification Centre, own bar]" : " [Notification Centre]";
    return line;
}

Json statusJson(pid_t springBoardPid, bool safeMode) {
    const auto& d = platform::deviceState();
    auto* a = platform::statusBarAggregator();
    Json o = Json::object();
    o["schema"] = 1;  // raised only when a field changes meaning or goes away
    o["locked"] = d.locked;
    o["springboardPid"] = static_cast<long>(springBoardPid);
    o["safeMode"] = safeMode;
    Json items = Json::array();
    for (int i = 0; i < platform::kStatusBarItemCount; ++i) {
        items.push_back({{"index", i},
                         {"name", kItemHideKeys[static_cast<size_t>(i)]},
                         {"enabled", a ? a->itemEnabled[static_cast<size_t>(i)] : false}});
    }
    o["items"] = std::move(items);
    o["time"] = {{"pattern", a ? timePattern(*a) : ""}, {"text", a ? a->timeItemText : ""}};
    o["service"] = {{"text", a && a->serviceText ? Json(*a->serviceText) : Json()},
                    {"emergencyOnly", a ? a->emergencyOnly : false}};
    int type = a ? a->dataNetworkType : 0;
    o["dataNetwork"] = {{"type", type}, {"label", platform::dataNetworkLabel(type)}};
    o["tethering"] = {{"active", a ? a->tethering : false}, {"devices", a ? a->tetheredDevices : 0}};
    o["syncIndicator"] = a ? a->showsSyncActivityIndicator : false;
    auto lock = platform::lockScreenStatusBar();
    o["lockScreen"] = {{"showsTime", lock.showsTime}, {"style", lock.style}};
    auto* nc = platform::notificationCenterViewController();
    o["notificationCenter"] = {{"open", nc ? nc->open : false}, {"statusBar", nc ? nc->statusBarLoaded : false}};
    Json alerts = Json::array();
    for (const auto& alert : platform::visibleAlerts()) {
        alerts.push_back({{"id", static_cast<long long>(alert->alertId())},
                          {"title", alert->title()},
                          {"message", alert->message()},
                          {"buttons", alert->buttonTitles()},
                          {"count", static_cast<long long>(alert->count())}});
    }
    o["alerts"] = std::move(alerts);
    // The hardware the line's items are drawn from.
    o["battery"] = {{"level", d.batteryLevel}, {"charging", d.charging}};
    o["signal"] = {{"bars", d.signalBars}};
    o["wifi"] = {{"bars", d.wifiBars}, {"network", d.wifiNetwork ? Json(*d.wifiNetwork) : Json()}};
    o["bluetooth"] = {{"on", d.bluetooth},
                      {"batteryLevel", d.bluetoothBatteryLevel ? Json(*d.bluetoothBatteryLevel) : Json()}};
    return o;
}

std::string statusScreen(const std::string& deviceRoot, bool safeMode) {
    std::string s = "\x1b[H\x1b[2J";  // home, clear
    s += "Vantrel SpringBoard  (" + deviceRoot + ")\r\n\r\n";
    s += "  " + statusLine(safeMode) + "\r\n\r\n";
    if (auto* a = platform::statusBarAggregator()) s += "  time pattern: " + timePattern(*a) + "\r\n";
    auto lock = platform::lockScreenStatusBar();
    s += std::string("  lock screen:  ") + (platform::deviceState().locked ? "shown" : "hidden") +
         ", its bar shows the time: " + (lock.showsTime ? "yes" : "no") + ", style " + std::to_string(lock.style) + "\r\n";
    auto* nc = platform::notificationCenterViewController();
    s += std::string("  Notification Centre: ") + (nc && nc->open ? "open" : "closed");
    if (nc && nc->open) s += nc->statusBarLoaded ? ", with its own status bar" : ", without its own status bar";
    s += "\r\n";
    auto alerts = platform::visibleAlerts();
    if (!alerts.empty()) {
        s += "\r\n";
        for (const auto& alert : alerts) {
            s += "  ┌ alert " + std::to_string(alert->alertId()) + ": " + alert->title() +
                 (alert->count() > 1 ? " (x" + std::to_string(alert->count()) + ")" : "") + "\r\n";
            if (!alert->message().empty()) s += "  │ " + alert->message() + "\r\n";
            std::string buttons;
            for (size_t i = 0; i < alert->buttonTitles().size(); ++i)
                buttons += " [" + std::to_string(i) + "] " + alert->buttonTitles()[i];
            s += "  └" + buttons + "\r\n";
        }
    }
    s += "\r\n  keys: t tap the status bar   l lock/unlock   n Notification Centre   0-9 answer the first alert   q quit\r\n";
    return s;
}

}  // namespace vantrel::sim
