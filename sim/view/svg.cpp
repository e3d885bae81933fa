#include "sim/view/svg.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>
#include <vector>

#include "sim/view/icons.h"

namespace vantrel::sim::view {
namespace {

// The phone: a body with its screen; all coordinates in the drawing's units.
constexpr double kPhoneWidth = 400, kPhoneHeight = 840;
constexpr double kScreenX = 20, kScreenY = 100, kScreenWidth = 360, kScreenHeight = 640;
constexpr double kBarHeight = 22;
constexpr double kItemGap = 5;
constexpr char kFontFamily[] = "Helvetica Neue, Helvetica, Arial, DejaVu Sans, sans-serif";
constexpr char kEllipsis[] = "…";

// Left to right, on each side of the time; tethering (-1) sits before the alarm.
constexpr int kLeftItems[] = {2, 3, 4, 5, 23, 21, 12, 22, 6, 14};
constexpr int kRightItems[] = {15, 18, 1, 19, 20, 24, 25, -1, 13, 16, 17, 11, 9, 10, 8, 7};

enum class Bar { Home, LockScreen, NotificationCentre };

bool itemEnabled(const Json& s, int index) {
    if (!s.contains("items") || !s["items"].is_array()) return false;
    for (const auto& item : s["items"])
        if (item.value("index", -1) == index) return item.value("enabled", false);
    return false;
}

bool flag(const Json& s, const char* pointer) {
    Json::json_pointer p(pointer);
    return s.contains(p) && s[p].is_boolean() && s[p].get<bool>();
}

std::string textAt(double x, double y, double size, const std::string& text, const std::string& fill,
                   const char* anchor = "middle", int weight = 400) {
    return "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" font-size=\"" + num(size) + "\" font-weight=\"" +
           std::to_string(weight) + "\" text-anchor=\"" + anchor + "\" fill=\"" + fill + "\">" + xmlEscape(text) + "</text>";
}

// Lines of at most maxWidth, broken at blanks and at the text's own newlines.
std::vector<std::string> wrap(const std::string& text, double maxWidth, double size) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        std::string para = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        std::string line;
        size_t i = 0;
        while (i <= para.size()) {
            size_t sp = para.find(' ', i);
            std::string word = para.substr(i, sp == std::string::npos ? std::string::npos : sp - i);
            std::string candidate = line.empty() ? word : line + " " + word;
            if (!line.empty() && textWidth(candidate, size) > maxWidth) {
                lines.push_back(line);
                line = word;
            } else {
                line = candidate;
            }
            if (sp == std::string::npos) break;
            i = sp + 1;
        }
        lines.push_back(line);
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return lines;
}

std::string placed(const Glyph& g, double x, double top, int index) {
    return "<g data-item=\"" + std::to_string(index) + "\" transform=\"translate(" + num(x) + "," + num(top) + ")\">" + g.svg +
           "</g>";
}

// The first character of a text and the ellipsis: the least of the carrier the bar keeps.
std::string firstCharacter(const std::string& text) {
    size_t end = text.empty() ? 0 : 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    return text.substr(0, end);
}

std::string statusBar(const Json& s, double top, Bar kind) {
    const std::string colour = "#ffffff";
    std::string out = "<g class=\"statusbar\" data-action=\"tap\">";
    const double glyphTop = top + (kBarHeight - 12) / 2;
    std::vector<std::pair<int, Glyph>> left, right;
    double leftWidth = 0, rightWidth = 0;
    auto add = [](std::vector<std::pair<int, Glyph>>& side, double& width, int index, Glyph g) {
        if (g.width <= 0) return;
        width += g.width + (side.empty() ? 0 : kItemGap);
        side.emplace_back(index, std::move(g));
    };
    for (int index : kLeftItems)
        if (itemEnabled(s, index)) add(left, leftWidth, index, itemGlyph(index, s, colour));
    for (int index : kRightItems) {
        if (index < 0 && flag(s, "/tethering/active"))
            add(right, rightWidth, index, tetheringGlyph(s, colour));
        else if (index >= 0 && itemEnabled(s, index))
            add(right, rightWidth, index, itemGlyph(index, s, colour));
    }
    // The lock screen's bar shows the time only when asked to.
    Glyph time;
    std::string timeText;
    if (itemEnabled(s, 0) && (kind != Bar::LockScreen || flag(s, "/lockScreen/showsTime"))) {
        time = itemGlyph(0, s, colour);
        if (s.contains("/time/text"_json_pointer) && s["/time/text"_json_pointer].is_string())
            timeText = s["/time/text"_json_pointer].get<std::string>();
    }
    const double usable = kScreenWidth - 14;
    // A long time text takes its room from the carrier name, which is shortened as the phone
    // does, down to its first character and the ellipsis; only a bar too full for even that
    // loses it.
    double room = usable - leftWidth - rightWidth - (time.width > 0 ? time.width + 16 : 0);
    for (auto it = left.begin(); room < 0 && it != left.end(); ++it) {
        if (it->first != 4) continue;
        const std::string full = carrierText(s);
        const double before = it->second.width, least = textWidth(firstCharacter(full) + kEllipsis, kBarFont);
        const double withoutTime = before + usable - leftWidth - rightWidth;
        if (withoutTime < least) {
            leftWidth -= before + (left.size() > 1 ? kItemGap : 0);
            left.erase(it);
        } else {
            it->second = textGlyph(shortened(full, std::max(before + room, least), kBarFont), colour);
            leftWidth -= before - it->second.width;
        }
        break;
    }
    // What the items leave the time, when they leave it less than its text.
    const double timeRoom = usable - leftWidth - rightWidth - 16;
    if (time.width > timeRoom) time = textGlyph(shortened(timeText, timeRoom, kBarFont), colour);
    // The whole bar takes the tap, items or not; the home screen's band sits under items only,
    // so an empty bar shows the wallpaper.
    const bool band = kind == Bar::Home && (!left.empty() || !right.empty() || time.width > 0);
    out += "<rect x=\"" + num(kScreenX) + "\" y=\"" + num(top) + "\" width=\"" + num(kScreenWidth) + "\" height=\"" +
           num(kBarHeight) + "\" fill=\"#000\" fill-opacity=\"" + (band ? "0.28" : "0") + "\"/>";
    double x = kScreenX + 7;
    for (auto& [index, g] : left) {
        out += placed(g, x, glyphTop, index);
        x += g.width + kItemGap;
    }
    const double leftEnd = left.empty() ? kScreenX + 7 : x - kItemGap, rightStart = kScreenX + kScreenWidth - 7 - rightWidth;
    x = rightStart;
    for (auto& [index, g] : right) {
        out += index < 0
                   ? "<g data-item=\"tethering\" transform=\"translate(" + num(x) + "," + num(glyphTop) + ")\">" + g.svg + "</g>"
                   : placed(g, x, glyphTop, index);
        x += g.width + kItemGap;
    }
    if (time.width > 0) {
        // Centred, unless the items crowd it: then in the middle of the room they leave.
        double at = kScreenX + (kScreenWidth - time.width) / 2;
        if (at < leftEnd + 8 || at + time.width > rightStart - 8) at = (leftEnd + rightStart - time.width) / 2;
        out += placed(time, at, glyphTop, 0);
    }
    return out + "</g>";
}

std::string wallpaper(const std::string& id, const char* from, const char* to) {
    return "<defs><linearGradient id=\"" + id + "\" x1=\"0\" y1=\"0\" x2=\"0.4\" y2=\"1\"><stop offset=\"0\" stop-color=\"" +
           from + "\"/><stop offset=\"1\" stop-color=\"" + to + "\"/></linearGradient></defs><rect x=\"" + num(kScreenX) +
           "\" y=\"" + num(kScreenY) + "\" width=\"" + num(kScreenWidth) + "\" height=\"" + num(kScreenHeight) +
           "\" fill=\"url(#" + id + ")\"/>";
}

std::string homeScreen(const Json& s) {
    static const char* const colours[] = {"#34c759", "#ff9500", "#5ac8fa", "#ff2d55", "#8e8e93", "#ffcc00",
                                          "#007aff", "#af52de", "#ff3b30", "#4cd964", "#5856d6", "#a2845e"};
    std::string out = wallpaper("home-wallpaper", "#3a6ea5", "#7a4f9a");
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            out += "<rect x=\"" + num(kScreenX + 24 + col * 84) + "\" y=\"" + num(kScreenY + 44 + row * 96) +
                   "\" width=\"60\" height=\"60\" rx=\"14\" fill=\"" + colours[(row * 4 + col) % 12] +
                   "\" fill-opacity=\"0.9\"/>";
    out += "<rect x=\"" + num(kScreenX) + "\" y=\"" + num(kScreenY + kScreenHeight - 96) + "\" width=\"" + num(kScreenWidth) +
           "\" height=\"96\" fill=\"#fff\" fill-opacity=\"0.25\"/>";
    for (int col = 0; col < 4; ++col)
        out += "<rect x=\"" + num(kScreenX + 24 + col * 84) + "\" y=\"" + num(kScreenY + kScreenHeight - 78) +
               "\" width=\"60\" height=\"60\" rx=\"14\" fill=\"" + colours[(col * 5 + 2) % 12] + "\"/>";
    if (flag(s, "/safeMode"))
        out += textAt(kScreenX + kScreenWidth / 2, kScreenY + 440, 15, "Safe Mode", "#ffffff", "middle", 600);
    return out + statusBar(s, kScreenY, Bar::Home);
}

// The device's clock as the status gives it: its local time to the minute and the 12/24-hour
// form of the time item. Unknown (an older status, or no clock) draws no clock at all.
struct DeviceClock {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    bool twentyFourHour = false;
    bool known = false;
};

DeviceClock deviceClock(const Json& s) {
    DeviceClock c;
    if (!s.contains("/clock/local"_json_pointer) || !s["/clock/local"_json_pointer].is_string()) return c;
    // YYYY-MM-DDTHH:MM, perhaps with seconds after.
    const std::string_view text = s["/clock/local"_json_pointer].get_ref<const std::string&>();
    auto digits = [&](size_t at, size_t width) {
        int value = -1;
        if (text.size() < at + width ||
            !std::all_of(text.begin() + at, text.begin() + at + width, [](char d) { return d >= '0' && d <= '9'; }))
            return -1;
        std::from_chars(text.data() + at, text.data() + at + width, value);
        return value;
    };
    const bool shaped = text.size() >= 16 && text[4] == '-' && text[7] == '-' && text[10] == 'T' && text[13] == ':' &&
                        (text.size() == 16 || text[16] == ':');
    c.year = digits(0, 4), c.month = digits(5, 2), c.day = digits(8, 2), c.hour = digits(11, 2), c.minute = digits(14, 2);
    c.known = shaped && c.year >= 0 && c.month >= 1 && c.month <= 12 && c.day >= 1 && c.day <= 31 && c.hour >= 0 &&
              c.hour <= 23 && c.minute >= 0 && c.minute <= 59;
    c.twentyFourHour = flag(s, "/clock/twentyFourHour");
    return c;
}

// "21:41", or "09:41" in the 12-hour form (two-digit hours, as the time item's "hh:mm a").
std::string hoursMinutes(const DeviceClock& c) {
    int hour = c.twentyFourHour ? c.hour : (c.hour % 12 == 0 ? 12 : c.hour % 12);
    char text[8];
    (void)std::snprintf(text, sizeof text, "%02d:%02d", hour % 100, c.minute % 100);
    return text;
}

const char* meridiem(const DeviceClock& c) { return c.twentyFourHour ? "" : c.hour < 12 ? "AM" : "PM"; }

// "Tuesday, December 8": the weekday from the civil date (days since 1970-01-01, a Thursday).
std::string longDate(const DeviceClock& c) {
    static const char* const days[] = {"Thursday", "Friday", "Saturday", "Sunday", "Monday", "Tuesday", "Wednesday"};
    static const char* const months[] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};
    const long y = c.year - (c.month <= 2 ? 1 : 0), era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400, mp = (c.month + 9) % 12;
    const long doy = (153 * mp + 2) / 5 + c.day - 1, doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long epochDays = era * 146097 + doe - 719468;
    return std::string(days[((epochDays % 7) + 7) % 7]) + ", " + months[c.month - 1] + " " + std::to_string(c.day);
}

std::string lockScreen(const Json& s) {
    std::string out = wallpaper("lock-wallpaper", "#1d2b44", "#3d2450");
    // The lock screen's own clock: the device's time, whatever the status bar's time item shows.
    if (DeviceClock clock = deviceClock(s); clock.known) {
        const std::string hhmm = hoursMinutes(clock), marker = meridiem(clock);
        const double cx = kScreenX + kScreenWidth / 2, markerWidth = marker.empty() ? 0 : textWidth(marker, 18) + 4;
        out += textAt(cx - markerWidth / 2, kScreenY + 130, 66, hhmm, "#ffffff", "middle", 200);
        if (!marker.empty())
            out +=
                textAt(cx - markerWidth / 2 + textWidth(hhmm, 66) / 2 + 4, kScreenY + 130, 18, marker, "#ffffff", "start", 300);
        out += textAt(cx, kScreenY + 160, 16, longDate(clock), "#ffffff");
    }
    out += textAt(kScreenX + kScreenWidth / 2, kScreenY + kScreenHeight - 56, 20, "slide to unlock", "#ffffff", "middle", 300);
    bool sameBar = s.contains("/lockScreen/style"_json_pointer) && s["/lockScreen/style"_json_pointer] == 1;
    return out + "<g data-screen=\"lock\">" + statusBar(s, kScreenY, sameBar ? Bar::Home : Bar::LockScreen) + "</g>";
}

// Notification Centre's Today view: the date, the day's summary, a calendar of the hours to
// come with a line at the device's time, and tomorrow's summary.
std::string todayView(const Json& s, double top) {
    const double x = kScreenX + 20, width = kScreenWidth - 40;
    const DeviceClock clock = deviceClock(s);
    std::string out = "<g data-view=\"today\">";
    double y = top;
    if (clock.known) {
        std::string date = longDate(clock);
        size_t comma = date.find(", ");
        out += textAt(x, y + 30, 30, date.substr(0, comma + 1), "#ffffff", "start", 300);
        out += textAt(x, y + 66, 30, date.substr(comma + 2), "#ffffff", "start", 300);
        y += 80;
    }
    out += textAt(x, y + 20, 14, "Nothing scheduled for today.", "#d1d1d6", "start");
    y += 44;
    out += textAt(x, y, 12, "CALENDAR", "#8e8e93", "start", 600);
    y += 12;
    constexpr double kHour = 34;
    for (int i = 0; i < 4 && clock.known; ++i) {
        DeviceClock hour = clock;
        hour.hour = (clock.hour + i) % 24;
        hour.minute = 0;
        std::string label = clock.twentyFourHour
                                ? hoursMinutes(hour)
                                : std::to_string(hour.hour % 12 == 0 ? 12 : hour.hour % 12) + " " + meridiem(hour);
        out += textAt(x, y + i * kHour + 14, 11, label, "#8e8e93", "start");
        out += "<path d=\"M" + num(x + 48) + " " + num(y + i * kHour + 10) + " h" + num(width - 48) +
               "\" stroke=\"#48484a\" stroke-width=\"0.6\"/>";
    }
    if (clock.known) {
        const double now = y + 10 + clock.minute * kHour / 60;
        out += "<circle cx=\"" + num(x + 48) + "\" cy=\"" + num(now) + "\" r=\"2.5\" fill=\"#ff3b30\"/><path d=\"M" +
               num(x + 48) + " " + num(now) + " h" + num(width - 48) + "\" stroke=\"#ff3b30\" stroke-width=\"1\"/>";
        y += 4 * kHour + 16;
    }
    out += textAt(x, y + 10, 12, "TOMORROW", "#8e8e93", "start", 600);
    out += textAt(x, y + 32, 14, "No events scheduled for tomorrow.", "#d1d1d6", "start");
    return out + "</g>";
}

std::string notificationCentre(const Json& s) {
    std::string out = "<g data-screen=\"notification-centre\"><rect x=\"" + num(kScreenX) + "\" y=\"" + num(kScreenY) +
                      "\" width=\"" + num(kScreenWidth) + "\" height=\"" + num(kScreenHeight) +
                      "\" fill=\"#0c0c10\" fill-opacity=\"0.94\"/>";
    double y = kScreenY + kBarHeight + 14;
    out += "<rect x=\"" + num(kScreenX + 60) + "\" y=\"" + num(y) +
           "\" width=\"240\" height=\"26\" rx=\"5\" fill=\"none\" "
           "stroke=\"#fff\" stroke-width=\"1\"/><rect x=\"" +
           num(kScreenX + 60) + "\" y=\"" + num(y) + "\" width=\"120\" height=\"26\" rx=\"5\" fill=\"#fff\"/>";
    out += textAt(kScreenX + 120, y + 18, 13, "Today", "#0c0c10", "middle", 600);
    out += textAt(kScreenX + 240, y + 18, 13, "Notifications", "#ffffff", "middle", 600);
    out += todayView(s, y + 46);
    // Notification Centre's own status bar, when it loaded one.
    if (flag(s, "/notificationCenter/statusBar")) out += statusBar(s, kScreenY, Bar::NotificationCentre);
    return out + "</g>";
}

std::string alertDialog(const Json& alert) {
    const double width = 270, cx = kScreenX + kScreenWidth / 2;
    auto title = wrap(alert.value("title", std::string()), width - 32, 15);
    auto message = wrap(alert.value("message", std::string()), width - 32, 12.5);
    std::vector<std::string> buttons;
    if (alert.contains("buttons") && alert["buttons"].is_array())
        for (const auto& b : alert["buttons"])
            if (b.is_string()) buttons.push_back(b.get<std::string>());
    bool sideBySide = buttons.size() == 2;
    double textHeight = 20 + title.size() * 19 + message.size() * 16 + 14;
    double buttonsHeight = sideBySide ? 44 : 44.0 * buttons.size();
    double height = textHeight + buttonsHeight;
    double x = cx - width / 2, y = kScreenY + (kScreenHeight - height) / 2;
    std::string id = std::to_string(alert.value("id", 0LL));
    std::string out = "<g class=\"alert\" data-alert=\"" + id + "\"><rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" +
                      num(width) + "\" height=\"" + num(height) + "\" rx=\"12\" fill=\"#f4f4f6\"/>";
    double ty = y + 30;
    for (const auto& line : title) out += textAt(cx, ty, 15, line, "#000000", "middle", 600), ty += 19;
    for (const auto& line : message) out += textAt(cx, ty, 12.5, line, "#1c1c1e"), ty += 16;
    double by = y + textHeight;
    for (size_t i = 0; i < buttons.size(); ++i) {
        double bx = sideBySide ? x + i * width / 2 : x;
        double bw = sideBySide ? width / 2 : width;
        double top = sideBySide ? by : by + i * 44.0;
        out += "<g class=\"alert-button\" data-alert=\"" + id + "\" data-button=\"" + xmlEscape(buttons[i]) + "\"><rect x=\"" +
               num(bx) + "\" y=\"" + num(top) + "\" width=\"" + num(bw) +
               "\" height=\"44\" fill=\"#000\" "
               "fill-opacity=\"0\"/><path d=\"M" +
               num(bx) + " " + num(top) + " h" + num(bw) +
               (sideBySide && i == 1 ? " M" + num(bx) + " " + num(top) + " v44" : std::string()) +
               "\" stroke=\"#c8c7cc\" stroke-width=\"0.6\"/>" +
               textAt(bx + bw / 2, top + 27, 15, buttons[i], "#007aff", "middle", i + 1 == buttons.size() ? 600 : 400) + "</g>";
    }
    return out + "</g>";
}

// A phone that is off: a dark screen. The page says why, once, beside it.
std::string notRunning(const std::string& /*reason*/) {
    return "<g data-screen=\"not-running\"><rect x=\"" + num(kScreenX) + "\" y=\"" + num(kScreenY) + "\" width=\"" +
           num(kScreenWidth) + "\" height=\"" + num(kScreenHeight) + "\" fill=\"#000\"/></g>";
}

std::string body() {
    return "<rect x=\"0\" y=\"0\" width=\"" + num(kPhoneWidth) + "\" height=\"" + num(kPhoneHeight) +
           "\" rx=\"58\" fill=\"#1c1c1e\"/><rect x=\"4\" y=\"4\" width=\"" + num(kPhoneWidth - 8) + "\" height=\"" +
           num(kPhoneHeight - 8) +
           "\" rx=\"55\" fill=\"none\" stroke=\"#3a3a3c\" stroke-width=\"2\"/>"
           "<rect x=\"165\" y=\"48\" width=\"70\" height=\"7\" rx=\"3.5\" fill=\"#3a3a3c\"/>"
           "<circle cx=\"200\" cy=\"24\" r=\"5\" fill=\"#2c2c2e\"/>"
           "<circle cx=\"200\" cy=\"790\" r=\"30\" fill=\"none\" stroke=\"#3a3a3c\" stroke-width=\"3\"/>";
}

// Units of width a byte adds: a character's first byte carries the whole character.
double charUnits(unsigned char c) {
    if ((c & 0xC0) == 0x80) return 0;  // a continuation byte belongs to the character before
    if (c >= 0xE3) return 1.0;         // CJK and wider
    if (c >= 0x80) return 0.7;
    if (c == ' ' || c == '.' || c == ':' || c == 'i' || c == 'l' || c == '\'' || c == '|') return 0.3;
    if (c >= 'A' && c <= 'Z') return 0.68;
    if (c == 'm' || c == 'w' || c == 'M' || c == 'W') return 0.85;
    return 0.56;
}

Json bounded(const Json& value, int depth) {
    constexpr int kMaxDepth = 16;  // a status nests three deep
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        if (text.size() <= kMaxTextBytes) return text;
        size_t cut = kMaxTextBytes - (sizeof kEllipsis - 1);
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
        return text.substr(0, cut) + kEllipsis;
    }
    if (!value.is_structured()) return value;
    if (depth >= kMaxDepth) return nullptr;
    Json out = value.is_array() ? Json::array() : Json::object();
    if (value.is_object()) {
        for (auto it = value.begin(); it != value.end(); ++it) out[it.key()] = bounded(*it, depth + 1);
        return out;
    }
    for (size_t i = 0; i < value.size() && i < kMaxListItems; ++i) out.push_back(bounded(value[i], depth + 1));
    return out;
}

}  // namespace

std::string xmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
            // XML 1.0 allows no other control characters; a newline in a text is drawn as a blank.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
                out += c == '\n' ? " " : "";
            else
                out += c;
        }
    }
    return out;
}

double textWidth(std::string_view text, double fontSize) {
    double units = 0;
    for (char c : text) units += charUnits(static_cast<unsigned char>(c));
    return units * fontSize;
}

std::string shortened(std::string_view text, double maxWidth, double fontSize) {
    if (textWidth(text, fontSize) <= maxWidth) return std::string(text);
    // One pass, summing as textWidth does, so the cut agrees with it to the last bit.
    const double room = maxWidth - textWidth(kEllipsis, fontSize);
    double units = 0;
    size_t cut = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80) {
            if (units * fontSize > room) break;
            cut = i;  // everything before this character fits
        }
        units += charUnits(c);
    }
    if (units * fontSize <= room) cut = text.size();
    return cut == 0 ? std::string() : std::string(text.substr(0, cut)) + kEllipsis;
}

Json boundTexts(const Json& status) { return bounded(status, 0); }

Frame framed(Framing framing) {
    switch (framing) {
    case Framing::StatusBar: return {kScreenX, kScreenY, kScreenWidth, kBarHeight};
    case Framing::Screen: return {kScreenX, kScreenY, kScreenWidth, kScreenHeight};
    case Framing::Phone: break;
    }
    return {0, 0, kPhoneWidth, kPhoneHeight};
}

std::string renderPhone(const Json& received, const std::string& reason, const SvgOptions& options) {
    // Whatever its source, no text or list is drawn beyond its bound.
    const Json status = boundTexts(received);
    bool running = status.is_object();
    bool locked = running && flag(status, "/locked");
    bool nc = running && flag(status, "/notificationCenter/open");
    bool alerts = running && status.contains("alerts") && status["alerts"].is_array() && !status["alerts"].empty();
    const auto [vx, vy, vw, vh] = framed(options.framing);
    const double w = options.width > 0 ? options.width : vw * options.scale;
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"" + num(vx) + " " + num(vy) + " " + num(vw) + " " +
                      num(vh) + "\" width=\"" + num(w) + "\" height=\"" + num(w * vh / vw) + "\" font-family=\"" + kFontFamily +
                      "\" role=\"img\" aria-label=\"phone\">";
    out += body();
    if (!running) return out + notRunning(reason) + "</svg>";
    out += locked ? lockScreen(status) : homeScreen(status);
    if (nc) out += notificationCentre(status);
    if (alerts) {
        out += "<rect x=\"" + num(kScreenX) + "\" y=\"" + num(kScreenY) + "\" width=\"" + num(kScreenWidth) + "\" height=\"" +
               num(kScreenHeight) + "\" fill=\"#000\" fill-opacity=\"0.4\"/>";
        for (const auto& alert : status["alerts"])
            if (alert.is_object()) out += alertDialog(alert);
    }
    return out + "</svg>";
}

}  // namespace vantrel::sim::view
