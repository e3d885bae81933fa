// The phone as the view draws it: one SVG from SpringBoard's Status JSON (docs/cli.md), used
// by the page and by `vantrel-view screenshot`, so the two always agree. Pure functions of
// their input (the clocks drawn are the status's `clock`, never the host's); every text that reaches
// the drawing is XML-escaped, as carrier, track and custom texts are user input. Nothing throws.
#pragma once

#include <string>
#include <string_view>

#include "sim/common/json.h"

namespace vantrel::sim::view {

enum class Framing {
    Phone,      // the whole phone
    StatusBar,  // the status bar alone, whatever is on screen under it
    Screen,     // the screen: the lock screen, Notification Centre or the home screen as shown
};

struct SvgOptions {
    int width = 0;  // pixels of the <svg> element; 0: the framing's points times `scale`
    Framing framing = Framing::Phone;
    double scale = 1;
};

// The part of the drawing a framing shows, in points.
struct Frame {
    double x, y, width, height;
};
Frame framed(Framing framing);

// status: the object Status() returned, or null when the device is not running; reason says
// why (shown on the dark screen).
std::string renderPhone(const Json& status, const std::string& reason, const SvgOptions& options = {});

// Text safe inside an XML element or a quoted attribute: & < > " ' escaped, control
// characters other than tab and newline dropped.
std::string xmlEscape(std::string_view text);

// Width of a text in our sans-serif face at a size, as the layout estimates it.
double textWidth(std::string_view text, double fontSize);

// The texts of a status are user input of any length; nothing drawn needs more than this.
inline constexpr size_t kMaxTextBytes = 512;
inline constexpr size_t kMaxListItems = 64;

// The status with every text cut to at most kMaxTextBytes (whole characters, "…" after a cut)
// and every list (alerts, their buttons) to its first kMaxListItems; linear in the status's size.
Json boundTexts(const Json& status);

// The text as drawn in maxWidth: whole when it fits, else its longest start of whole characters
// followed by "…", or empty when not even one character fits. Linear in the text.
std::string shortened(std::string_view text, double maxWidth, double fontSize);

}  // namespace vantrel::sim::view
