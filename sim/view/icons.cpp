#include "sim/view/icons.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <type_traits>

#include "sim/view/svg.h"

namespace vantrel::sim::view {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A value of the Status JSON at a pointer, or the fallback when absent or of another type.
template <class T>
T at(const Json& status, const char* pointer, T fallback) {
    Json::json_pointer p(pointer);
    if (!status.contains(p)) return fallback;
    const Json& v = status[p];
    if constexpr (std::is_same_v<T, bool>)
        return v.is_boolean() ? v.get<bool>() : fallback;
    else if constexpr (std::is_same_v<T, std::string>)
        return v.is_string() ? v.get<std::string>() : fallback;
    else
        return v.is_number() ? v.get<T>() : fallback;
}

Glyph text(const std::string& s, const std::string& c, double size = kBarFont) {
    if (s.empty()) return {};
    return {"<text x=\"0\" y=\"10\" font-size=\"" + num(size) + "\" font-weight=\"600\" fill=\"" + c + "\">" + xmlEscape(s) +
                "</text>",
            textWidth(s, size)};
}

Glyph shape(const std::string& body, double width) { return {body, width}; }

std::string path(const std::string& d, const std::string& c, bool filled = true, double stroke = 1.3) {
    if (filled) return "<path d=\"" + d + "\" fill=\"" + c + "\"/>";
    return "<path d=\"" + d + "\" fill=\"none\" stroke=\"" + c + "\" stroke-width=\"" + num(stroke) +
           "\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>";
}

// A band of a fan between radii r0 and r1, from angle a0 to a1 (degrees, 0 = right, -90 = up).
std::string sector(double cx, double cy, double r0, double r1, double a0, double a1) {
    auto pt = [&](double r, double a) {
        return num(cx + r * std::cos(a * kPi / 180)) + " " + num(cy + r * std::sin(a * kPi / 180));
    };
    return "M" + pt(r1, a0) + " A" + num(r1) + " " + num(r1) + " 0 0 1 " + pt(r1, a1) + " L" + pt(r0, a1) + " A" + num(r0) + " " +
           num(r0) + " 0 0 0 " + pt(r0, a0) + " Z";
}

Glyph signal(const Json& s, const std::string& c) {
    int bars = at(s, "/signal/bars", 0);
    std::string out;
    for (int i = 0; i < 5; ++i) {
        std::string cx = num(3 + i * 6.2);
        out += i < bars
                   ? "<circle cx=\"" + cx + "\" cy=\"6\" r=\"2.6\" fill=\"" + c + "\"/>"
                   : "<circle cx=\"" + cx + "\" cy=\"6\" r=\"2.2\" fill=\"none\" stroke=\"" + c + "\" stroke-width=\"0.9\"/>";
    }
    return shape(out, 5 * 6.2);
}

Glyph wifiFan(const Json& s, const std::string& c) {
    int bars = at(s, "/wifi/bars", 0);
    std::string out;
    const double radii[][2] = {{0, 3.6}, {5.0, 7.6}, {9.0, 11.6}};
    for (int i = 0; i < 3; ++i) {
        out += "<path d=\"" + sector(7.5, 11.6, radii[i][0], radii[i][1], -135, -45) + "\" fill=\"" + c + "\"" +
               (i < bars ? "" : " fill-opacity=\"0.3\"") + "/>";
    }
    return shape(out, 15);
}

Glyph dataNetwork(const Json& s, const std::string& c) {
    int type = at(s, "/dataNetwork/type", 0);
    if (type == 7) return wifiFan(s, c);
    if (type == 0) return {};
    if (type == 8) return tetheringGlyph(Json::object(), c);
    return text(at(s, "/dataNetwork/label", std::string()), c);
}

Glyph battery(const Json& s, const std::string& c) {
    int level = std::clamp(at(s, "/battery/level", 0), 0, 100);
    bool charging = at(s, "/battery/charging", false);
    std::string out = "<rect x=\"0.5\" y=\"1.5\" width=\"21\" height=\"9.5\" rx=\"2.2\" fill=\"none\" stroke=\"" + c +
                      "\" stroke-width=\"1\"/><rect x=\"22.3\" y=\"4.2\" width=\"1.7\" height=\"4\" rx=\"0.6\" fill=\"" + c +
                      "\"/><rect x=\"2\" y=\"3\" width=\"" + num(18.0 * level / 100) + "\" height=\"6.5\" rx=\"1\" fill=\"" +
                      batteryFill(level, charging, c) + "\"/>";
    if (charging)
        out += "<path d=\"M12.5 0.5 L6.5 7 L10.3 7 L9 12 L15.5 5 L11.6 5 Z\" fill=\"" + c +
               "\" stroke=\"#000\" stroke-opacity=\"0.55\" stroke-width=\"0.8\"/>";
    return shape(out, 24.5);
}

Glyph smallBattery(const Json& s, const std::string& c) {
    if (!at(s, "/bluetooth/on", false)) return {};
    int level = std::clamp(at(s, "/bluetooth/batteryLevel", 0), 0, 100);
    double h = 8.0 * level / 100;
    return shape("<rect x=\"0.5\" y=\"2\" width=\"6\" height=\"9.5\" rx=\"1.2\" fill=\"none\" stroke=\"" + c +
                     "\" stroke-width=\"0.9\"/><rect x=\"2.2\" y=\"0.6\" width=\"2.6\" height=\"1.4\" fill=\"" + c +
                     "\"/><rect x=\"1.5\" y=\"" + num(10.7 - h) + "\" width=\"4\" height=\"" + num(h) + "\" fill=\"" + c + "\"/>",
                 7);
}

Glyph percent(const Json& s, const char* pointer, const std::string& c) {
    Json::json_pointer p(pointer);
    if (!s.contains(p) || !s[p].is_number()) return {};
    return text(std::to_string(s[p].get<int>()) + "%", c);
}

}  // namespace

std::string batteryFill(int level, bool charging, const std::string& colour) {
    if (charging) return "#4cd964";
    return level <= kLowBattery ? "#ff3b30" : colour;
}

std::string num(double value) {
    char buf[32];
    (void)std::snprintf(buf, sizeof buf, "%.1f", value);
    std::string s = buf;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
    if (s == "-0") s = "0";
    return s;
}

Glyph textGlyph(const std::string& s, const std::string& c) { return text(s, c); }

std::string carrierText(const Json& s) {
    std::string carrier = at(s, "/service/text", std::string("No Service"));
    if (at(s, "/service/emergencyOnly", false)) carrier += " SOS";
    return carrier;
}

Glyph tetheringGlyph(const Json& s, const std::string& c) {
    std::string out = "<circle cx=\"4.5\" cy=\"6\" r=\"3.3\" fill=\"none\" stroke=\"" + c +
                      "\" stroke-width=\"1.4\"/><circle cx=\"9.5\" cy=\"6\" r=\"3.3\" fill=\"none\" stroke=\"" + c +
                      "\" stroke-width=\"1.4\"/>";
    double width = 14;
    int devices = at(s, "/tethering/devices", 0);
    if (devices > 0) {
        Glyph n = text(std::to_string(devices), c, 9.5);
        out += "<g transform=\"translate(15.5,0)\">" + n.svg + "</g>";
        width += 1.5 + n.width;
    }
    return shape(out, width);
}

Glyph itemGlyph(int index, const Json& s, const std::string& c) {
    switch (index) {
    case 0: return text(at(s, "/time/text", std::string()), c);
    case 1: return shape(path("M6.5 0.8 A5.6 5.6 0 1 0 12 8.2 A4.6 4.6 0 1 1 6.5 0.8 Z", c), 12.5);
    case 2:
        return shape(path("M6.5 0 C7.3 0 7.6 0.8 7.6 1.6 L7.6 4.6 L13 7.6 L13 9 L7.6 7.4 L7.4 10.2 L9 11.2 L9 12.2 "
                          "L6.5 11.5 L4 12.2 L4 11.2 L5.6 10.2 L5.4 7.4 L0 9 L0 7.6 L5.4 4.6 L5.4 1.6 C5.4 0.8 5.7 0 6.5 0 Z",
                          c),
                     13);
    case 3: return signal(s, c);
    case 4: return text(carrierText(s), c);
    case 5: return dataNetwork(s, c);
    case 6: return shape(path("M6 0.8 L10.6 3.4 L10.6 8.6 L6 11.2 L1.4 8.6 L1.4 3.4 Z", c, false), 12);
    case 7: return battery(s, c);
    case 8: return percent(s, "/battery/level", c);
    case 9: return percent(s, "/bluetooth/batteryLevel", c);
    case 10: return smallBattery(s, c);
    case 11: return shape(path("M1.5 3.4 L8.6 8.8 L5.2 11.6 L5.2 0.4 L8.6 3.2 L1.5 8.6", c, false, 1.3), 10);
    case 12:
        return shape("<rect x=\"0.5\" y=\"2.5\" width=\"15\" height=\"8\" rx=\"1.5\" fill=\"none\" stroke=\"" + c +
                         "\" stroke-width=\"1\"/>" +
                         path("M3 5.2 h1.6 M6 5.2 h1.6 M9 5.2 h1.6 M12 5.2 h1 M3.5 8 h9", c, false, 1.1),
                     16);
    case 13:
        return shape("<circle cx=\"6.5\" cy=\"7\" r=\"4.6\" fill=\"none\" stroke=\"" + c + "\" stroke-width=\"1.3\"/>" +
                         path("M6.5 4.6 L6.5 7.2 L8.4 8.4 M1 3 L3 1 M12 3 L10 1", c, false, 1.2),
                     13);
    case 14: return shape(path("M6 0.6 L11.4 6 L6 11.4 L0.6 6 Z", c, false), 12);
    case 15: return shape(path("M6 0.8 L11.5 11 L0.5 11 Z", c, false), 12);
    case 16: return shape(path("M11.5 0.5 L0.5 5.4 L5.6 6.4 L6.6 11.5 Z", c), 12);
    case 17:
        return shape(path("M10.2 2.6 A5.5 5.5 0 1 0 11.6 6.8", c, false, 1.2) + path("M9 0.6 L11 2.8 L8.4 3.8", c, false, 1.1) +
                         "<rect x=\"4\" y=\"5.4\" width=\"5\" height=\"3.8\" rx=\"0.6\" fill=\"" + c + "\"/>" +
                         path("M4.9 5.6 L4.9 4.4 A1.6 1.6 0 0 1 8.1 4.4 L8.1 5.6", c, false, 1),
                     13);
    case 18:
        return shape(
            path("M6 0.5 L7.6 4.4 L11.6 4.6 L8.5 7.2 L9.6 11.3 L6 9 L2.4 11.3 L3.5 7.2 L0.4 4.6 L4.4 4.4 Z", c, false, 1), 12);
    case 19:
        return shape("<rect x=\"0.5\" y=\"0.8\" width=\"14\" height=\"8.2\" rx=\"1\" fill=\"none\" stroke=\"" + c +
                         "\" stroke-width=\"1.1\"/>" + path("M7.5 6.6 L11.4 11.8 L3.6 11.8 Z", c),
                     15);
    case 20:
        return shape("<rect x=\"3\" y=\"0.5\" width=\"4.6\" height=\"7.2\" rx=\"2.3\" fill=\"" + c + "\"/>" +
                         path("M1 5.6 A4.3 4.3 0 0 0 9.6 5.6 M5.3 9.9 L5.3 11.8", c, false, 1.1),
                     10.6);
    case 21:
        return shape("<rect x=\"0.5\" y=\"1.5\" width=\"20\" height=\"9.5\" rx=\"2\" fill=\"none\" stroke=\"" + c +
                         "\" stroke-width=\"1\"/><text x=\"10.5\" y=\"9.2\" font-size=\"7.2\" font-weight=\"700\" "
                         "text-anchor=\"middle\" fill=\"" +
                         c + "\">VPN</text>",
                     21);
    case 22:
        return shape(path("M1.5 1.5 C0.5 3 1 6.5 4.5 10 C8 13 10.5 12.5 11.5 11 L9.8 8.6 L8 9.4 C6.5 8.6 4.8 6.8 4.2 5.4 "
                          "L5 3.6 Z",
                          c) +
                         path("M8 3 L13 3 M11 1 L13 3 L11 5", c, false, 1.1),
                     14);
    case 23: {
        std::string out;
        for (int i = 0; i < 8; ++i) {
            double a = i * kPi / 4;
            out += "<line x1=\"" + num(6 + 2.4 * std::cos(a)) + "\" y1=\"" + num(6 + 2.4 * std::sin(a)) + "\" x2=\"" +
                   num(6 + 5.2 * std::cos(a)) + "\" y2=\"" + num(6 + 5.2 * std::sin(a)) + "\" stroke=\"" + c +
                   "\" stroke-width=\"1.4\" stroke-linecap=\"round\" stroke-opacity=\"" + num(0.25 + i * 0.1) + "\"/>";
        }
        return shape(out, 12);
    }
    case 24: return shape(path("M1.5 0.8 L10.5 6 L1.5 11.2 Z", c), 11);
    case 25:
        return shape(path("M10.4 4.2 A4.8 4.8 0 0 0 1.6 5 M1.6 7.8 A4.8 4.8 0 0 0 10.4 7", c, false, 1.3) +
                         path("M10.8 1.2 L10.6 4.4 L7.6 3.8 M1.2 10.8 L1.4 7.6 L4.4 8.2", c, false, 1.1),
                     12);
    default: return {};
    }
}

}  // namespace vantrel::sim::view
