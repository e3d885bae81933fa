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
    Json o = Json::object();
    auto* a = platform::statusBarAggregator();
    o.set("locked", platform::deviceState().locked);
    o.set("springboardPid", static_cast<long>(springBoardPid));
    o.set("safeMode", safeMode);
    Json items = Json::list();
    for (int i = 0; i < platform::kStatusBarItemCount; ++i) {
        items.add(Json::object()
                      .set("index", i)
                      .set("name", kItemHideKeys[static_cast<size_t>(i)])
                      .set("enabled", a ? a->itemEnabled[static_cast<size_t>(i)] : false));
    }
    o.set("items", std::move(items));
    o.set("time", Json::object().set("pattern", a ? timePattern(*a) : "").set("text", a ? a->timeItemText : ""));
    Json service = Json::object();
    service.set("text", a && a->serviceText ? Json(*a->serviceText) : Json());
    service.set("emergencyOnly", a ? a->emergencyOnly : false);
    o.set("service", std::move(service));
    int type = a ? a->dataNetworkType : 0;
    o.set("dataNetwork", Json::object().set("type", type).set("label", platform::dataNetworkLabel(type)));
    o.set("tethering", Json::object().set("active", a ? a->tethering : false).set("devices", a ? a->tetheredDevices : 0));
    o.set("syncIndicator", a ? a->showsSyncActivityIndicator : false);
    auto lock = platform::lockScreenStatusBar();
    o.set("lockScreen", Json::object().set("showsTime", lock.showsTime).set("style", lock.style));
    auto* nc = platform::notificationCenterViewController();
    o.set("notificationCenter",
          Json::object().set("open", nc ? nc->open : false).set("statusBar", nc ? nc->statusBarLoaded : false));
    Json alerts = Json::list();
    for (const auto& alert : platform::visibleAlerts()) {
        Json buttons = Json::list();
        for (const auto& b : alert->buttonTitles()) buttons.add(b);
        alerts.add(Json::object()
                       .set("id", static_cast<long long>(alert->alertId()))
                       .set("title", alert->title())
                       .set("message", alert->message())
                       .set("buttons", std::move(buttons))
                       .set("count", static_cast<long long>(alert->count())));
    }
    o.set("alerts", std::move(alerts));
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
