#include "sim/springboard/status.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <string_view>
#include <vector>

#include "platform/device/device_state.h"
#include "platform/foundation/runloop.h"
#include "platform/springboard/springboard.h"
#include "platform/uikit/alert.h"
#include "shared/settings.h"
#include "sim/common/safety.h"

namespace vantrel::sim {

std::string bounded(std::string_view text) {
    if (text.size() <= kShownText) return std::string(text);
    size_t cut = kShownText;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut)) + "…";
}

namespace {

std::string timePattern(const platform::SBStatusBarStateAggregator& a) {
    return a._timeItemDateFormatter ? bounded(a._timeItemDateFormatter->dateFormatUtf8()) : std::string();
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
    case 0: return a.timeItemText.empty() ? "(time)" : bounded(a.timeItemText);
    case 3: return signalBars(d.signalBars);
    case 4: {
        std::string s = a.serviceText ? bounded(*a.serviceText) : "No Service";
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

// The device's wall clock (the one `set clock=` moves) to the minute, in the local time zone:
// what the lock screen and Notification Centre show. Minutes only, so a redraw that changes
// nothing else is not told apart by the seconds.
std::string deviceLocalTime() {
    auto t = static_cast<std::time_t>(std::floor(platform::RunLoop::main().now()));
    std::tm tm{};
    char text[32] = "";
    if (!::localtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M", &tm) == 0) text[0] = '\0';
    return text;
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
    o["time"] = {{"pattern", a ? timePattern(*a) : ""}, {"text", a ? bounded(a->timeItemText) : ""}};
    o["service"] = {{"text", a && a->serviceText ? Json(bounded(*a->serviceText)) : Json()},
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
    const auto visible = platform::visibleAlerts();
    for (const auto& alert : visible) {
        if (alerts.size() == kListedAlerts) break;
        Json buttons = Json::array();
        for (const auto& b : alert->buttonTitles())
            if (buttons.size() < kListedAlerts) buttons.push_back(bounded(b));
        alerts.push_back({{"id", static_cast<long long>(alert->alertId())},
                          {"title", bounded(alert->title())},
                          {"message", bounded(alert->message())},
                          {"buttons", std::move(buttons)},
                          {"count", static_cast<long long>(alert->count())}});
    }
    o["alerts"] = std::move(alerts);
    if (visible.size() > kListedAlerts) o["alertsNotListed"] = static_cast<long long>(visible.size() - kListedAlerts);
    // The hardware the line's items are drawn from.
    o["battery"] = {{"level", d.batteryLevel}, {"charging", d.charging}};
    o["signal"] = {{"bars", d.signalBars}};
    o["wifi"] = {{"bars", d.wifiBars}, {"network", d.wifiNetwork ? Json(bounded(*d.wifiNetwork)) : Json()}};
    o["bluetooth"] = {{"on", d.bluetooth}, {"batteryLevel", d.bluetoothBatteryLevel ? Json(*d.bluetoothBatteryLevel) : Json()}};
    // The clock the lock screen and Notification Centre draw, in the form the time item uses.
    o["clock"] = {{"local", deviceLocalTime()},
                  {"twentyFourHour", readKey<MainKey::clock1224>(
                                         readPreferenceKeys(PreferenceFile::Main, {keySchema(MainKey::clock1224).key})) != 0}};
    return o;
}

namespace {

// The columns a UTF-8 text takes, counting a code point as one (what our glyphs take).
size_t columnsOf(std::string_view text) {
    size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// The byte where the column `column` of text starts.
size_t byteAtColumn(std::string_view text, size_t column) {
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (n++ == column) return i;
    }
    return text.size();
}

// One line of the screen broken at blanks into lines of at most `columns`, each continuation
// indented as the first; a word longer than a line is cut. Never wider than the terminal, so
// a narrow one does not wrap it for us and scroll the screen away.
std::string fit(std::string_view line, size_t columns) {
    size_t indent = line.find_first_not_of(' ');
    if (indent == std::string_view::npos) return "\r\n";
    if (columns < indent + 8) indent = 0;  // too narrow to keep the indent
    const std::string pad(indent, ' ');
    std::string out;
    std::string_view rest = line.substr(line.find_first_not_of(' '));
    const size_t width = columns > indent ? columns - indent : 1;
    while (!rest.empty()) {
        size_t cut = rest.size();
        if (columnsOf(rest) > width) {
            cut = byteAtColumn(rest, width);
            size_t blank = rest.rfind(' ', cut);
            if (blank != std::string_view::npos && blank > 0) cut = blank;
        }
        std::string_view piece = rest.substr(0, cut);
        while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
        out += pad;
        out += piece;
        out += "\r\n";
        rest.remove_prefix(cut);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    }
    return out;
}

}  // namespace

std::string statusScreen(const std::string& deviceRoot, bool safeMode, size_t columns, std::string_view note) {
    std::vector<std::string> lines;
    // Everything drawn comes from the device: no text of it may drive the terminal.
    lines.push_back("Vantrel SpringBoard  (" + displayable(deviceRoot) + ")");
    lines.push_back("");
    lines.push_back("  " + displayable(statusLine(safeMode)));
    lines.push_back("");
    if (auto* a = platform::statusBarAggregator()) lines.push_back("  time pattern: " + displayable(timePattern(*a)));
    auto lock = platform::lockScreenStatusBar();
    lines.push_back(std::string("  lock screen:  ") + (platform::deviceState().locked ? "shown" : "hidden") +
                    ", its bar shows the time: " + (lock.showsTime ? "yes" : "no") + ", style " + std::to_string(lock.style));
    auto* nc = platform::notificationCenterViewController();
    std::string ncLine = std::string("  Notification Centre: ") + (nc && nc->open ? "open" : "closed");
    if (nc && nc->open) ncLine += nc->statusBarLoaded ? ", with its own status bar" : ", without its own status bar";
    lines.push_back(ncLine);
    auto alerts = platform::visibleAlerts();
    if (!alerts.empty()) {
        lines.push_back("");
        for (const auto& alert : alerts) {
            lines.push_back("  ┌ alert " + std::to_string(alert->alertId()) + ": " + displayable(alert->title()) +
                            (alert->count() > 1 ? " (x" + std::to_string(alert->count()) + ")" : ""));
            // The message's own line breaks keep the box's border.
            std::string_view message = alert->message();
            while (!message.empty()) {
                size_t end = std::min(message.find('\n'), message.size());
                lines.push_back("  │ " + displayable(message.substr(0, end)));
                message.remove_prefix(std::min(end + 1, message.size()));
            }
            std::string buttons;
            for (size_t i = 0; i < alert->buttonTitles().size(); ++i)
                buttons += " [" + std::to_string(i) + "] " + displayable(alert->buttonTitles()[i]);
            lines.push_back("  └" + buttons);
        }
    }
    lines.push_back(std::string(note));
    lines.push_back(
        "  keys: t tap the status bar   l lock/unlock   n Notification Centre   0-9 answer the first alert   "
        "q quit (stops the device)");
    std::string s = "\x1b[H\x1b[2J";  // home, clear
    for (const auto& line : lines) s += fit(line, std::max<size_t>(columns, 20));
    return s;
}

}  // namespace vantrel::sim
