#include "sim/view/svg.h"

#include <ctime>
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

std::string statusBar(const Json& s, double top, Bar kind) {
    const std::string colour = "#ffffff";
    std::string out = "<g class=\"statusbar\" data-action=\"tap\">";
    // The whole bar takes the tap, items or not; the band shows on the home screen.
    out += "<rect x=\"" + num(kScreenX) + "\" y=\"" + num(top) + "\" width=\"" + num(kScreenWidth) + "\" height=\"" +
           num(kBarHeight) + "\" fill=\"#000\" fill-opacity=\"" + (kind == Bar::Home ? "0.28" : "0") + "\"/>";
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
    if (itemEnabled(s, 0) && (kind != Bar::LockScreen || flag(s, "/lockScreen/showsTime"))) time = itemGlyph(0, s, colour);
    // A long time text takes its room from the carrier name, which is shortened (or dropped) as
    // the phone does.
    double room = kScreenWidth - 14 - leftWidth - rightWidth - (time.width > 0 ? time.width + 16 : 0);
    for (auto it = left.begin(); room < 0 && it != left.end(); ++it) {
        if (it->first != 4) continue;
        std::string carrier = shortened(carrierText(s), it->second.width + room, kBarFont);
        double before = it->second.width;
        if (carrier.empty()) {
            leftWidth -= before + (left.size() > 1 ? kItemGap : 0);
            left.erase(it);
        } else {
            it->second = textGlyph(carrier, colour);
            leftWidth -= before - it->second.width;
        }
        break;
    }
    double x = kScreenX + 7;
    for (auto& [index, g] : left) {
        out += placed(g, x, glyphTop, index);
        x += g.width + kItemGap;
    }
    const double leftEnd = x - kItemGap, rightStart = kScreenX + kScreenWidth - 7 - rightWidth;
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

std::string lockScreen(const Json& s) {
    std::string out = wallpaper("lock-wallpaper", "#1d2b44", "#3d2450");
    // The lock screen's own clock: the phone's time, whatever the status bar's time item shows.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16], date[64];
    (void)std::strftime(clock, sizeof clock, "%H:%M", &local);
    (void)std::strftime(date, sizeof date, "%A, %B %d", &local);
    out += textAt(kScreenX + kScreenWidth / 2, kScreenY + 130, 66, clock, "#ffffff", "middle", 200);
    out += textAt(kScreenX + kScreenWidth / 2, kScreenY + 160, 16, date, "#ffffff");
    out += textAt(kScreenX + kScreenWidth / 2, kScreenY + kScreenHeight - 56, 20, "slide to unlock", "#ffffff", "middle", 300);
    bool sameBar = s.contains("/lockScreen/style"_json_pointer) && s["/lockScreen/style"_json_pointer] == 1;
    return out + "<g data-screen=\"lock\">" + statusBar(s, kScreenY, sameBar ? Bar::Home : Bar::LockScreen) + "</g>";
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
    out += textAt(kScreenX + kScreenWidth / 2, y + 90, 15, "No Notifications", "#8e8e93");
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

std::string renderPhone(const Json& received, const std::string& reason, const SvgOptions& options) {
    // Whatever its source, no text or list is drawn beyond its bound.
    const Json status = boundTexts(received);
    bool running = status.is_object();
    bool locked = running && flag(status, "/locked");
    bool nc = running && flag(status, "/notificationCenter/open");
    bool alerts = running && status.contains("alerts") && status["alerts"].is_array() && !status["alerts"].empty();
    double vx = 0, vy = 0, vw = kPhoneWidth, vh = kPhoneHeight;
    if (options.framing == Framing::StatusBar && running && !locked && !nc && !alerts)
        vx = kScreenX, vy = kScreenY, vw = kScreenWidth, vh = kBarHeight + 6;
    double w = options.width > 0 ? options.width : vw;
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
