// `vantrel-view screenshot`: the phone as the view draws it, written as SVG or, through
// rsvg-convert, as PNG. Programs are run only from PATH folders owned by root that nobody else
// can write; the picture is written beside its name and renamed over it, so a link standing at
// that name is replaced, never followed. Failures come back as a Result with the reason.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/common/device.h"
#include "sim/common/result.h"

namespace vantrel::sim::view {

// Reads the device's status and writes FILE.svg or FILE.png, `width` pixels wide (0: natural).
Result<void> screenshot(const DeviceFolder& device, const std::string& file, int width);

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
