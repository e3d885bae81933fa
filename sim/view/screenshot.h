// `vantrel-view screenshot`: the phone as the view draws it, cropped to the status bar, the
// lock screen, Notification Centre or the whole phone at 1-3 pixels a point, written as SVG or,
// through rsvg-convert, as PNG. Programs are run only from PATH folders owned by root that nobody else
// can write; the picture is written beside its name and renamed over it, so a link standing at
// that name is replaced, never followed. Failures come back as a Result with the reason.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/common/device.h"
#include "sim/common/json.h"
#include "sim/common/result.h"
#include "sim/view/svg.h"

namespace vantrel::sim::view {

// What a picture shows: the status bar, the lock screen or Notification Centre (each refused
// unless shown), or the whole phone.
enum class Shot { StatusBar, LockScreen, NotificationCentre, Phone };

struct ShotOptions {
    Shot shot = Shot::StatusBar;
    int scale = 2;  // pixels per point, 1 to 3
    int width = 0;  // pixels instead of the scale; 0: by the scale
};

// The drawing's options for a shot of a status: its framing and size. A failure (the lock
// screen or Notification Centre asked for while not shown) says how to show it.
Result<SvgOptions> shotFraming(const Json& status, const ShotOptions& options);
// The SVG of a shot of a status: what `screenshot` writes as FILE.svg.
Result<std::string> shotPicture(const Json& status, const ShotOptions& options);

// Reads the device's status and writes FILE.svg or FILE.png as options say.
Result<void> screenshot(const DeviceFolder& device, const std::string& file, const ShotOptions& options);

// The absolute path of a program found on PATH in a folder owned by root and written by root
// alone, the program itself owned by root and written by root alone; nullopt when none.
std::optional<std::string> trustedProgram(const std::string& name);

// Runs program with args, feeding input on its standard input; its standard output, or why
// not (it failed, or took longer than timeoutSeconds and was ended by its pid).
Result<std::string> runFilter(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                              double timeoutSeconds);

// Writes data to a new file beside path and renames it over path.
Result<void> writeReplacing(const std::string& path, const std::string& data);

}  // namespace vantrel::sim::view
