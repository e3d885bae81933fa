// The status bar items as small vector drawings of our own, one per item index (0 to 25) and
// one for tethering, each in a box 12 units high whose left edge is x = 0; the caller places
// it with a translate. What an item shows (bars, level, label) comes from the Status JSON.
// Pure functions; nothing throws.
#pragma once

#include <string>

#include "sim/common/json.h"

namespace vantrel::sim::view {

struct Glyph {
    std::string svg;   // drawn in `colour`, top at y = 0, 12 units high (text baselines at 10)
    double width = 0;  // 0: nothing to draw for this item
};

// Item `index` as the status bar draws it from `status`.
Glyph itemGlyph(int index, const Json& status, const std::string& colour);
// The bar's text size, and a text drawn as the bar draws its texts.
inline constexpr double kBarFont = 11.5;
Glyph textGlyph(const std::string& text, const std::string& colour);
// The carrier item's text: the service text, or "No Service", marked SOS when emergency only.
std::string carrierText(const Json& status);

// The battery's charge as the phone colours it: green while charging, red at kLowBattery
// percent and below, else the bar's colour.
inline constexpr int kLowBattery = 20;
std::string batteryFill(int level, bool charging, const std::string& colour);

// Personal hotspot with its device count.
Glyph tetheringGlyph(const Json& status, const std::string& colour);

// Number formatting of the drawing: at most one decimal, no trailing zeros.
std::string num(double value);

}  // namespace vantrel::sim::view
