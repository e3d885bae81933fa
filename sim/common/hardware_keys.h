// The hardware keys `device set` and SpringBoard's SetHardware take, checked against the one
// typed table of the device's state (platform::hardwareKeys) by both the command line and the
// bus method, so the two can never disagree. Checking is all or nothing: every change is parsed
// before any is turned into device.plist entries, and a bad one comes back as an
// InvalidArgument Error naming the key and its valid values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/device/device_state.h"
#include "platform/foundation/value.h"
#include "sim/common/result.h"

namespace vantrel::sim {

using platform::HardwareKey;
using platform::hardwareKeys;
using platform::HardwareType;
using platform::kNoUpperBound;

// What a text key (and each item of a list) may hold: device.plist, the status reply and the
// pictures all carry it, so no peer can make them unreadable or slow.
inline constexpr size_t kMaxHardwareText = 4096;
inline constexpr size_t kMaxHardwareListItems = 256;

const HardwareKey* findHardwareKey(std::string_view name);

// The key's type and its valid values, as `device keys` and error messages say them.
std::string_view typeName(HardwareType type);
std::string validValues(const HardwareKey& key);

// Checks changes (key -> a typed value, or the text a command line typed) against the table and
// makes the device.plist entries they stand for. Interface addresses edit base's interface
// table; a clock becomes an offset from machineNow (seconds since the epoch, local time zone).
// On failure nothing is made: the error names every bad key with its valid values.
Result<platform::Dictionary> hardwareEntries(const platform::Dictionary& changes, const platform::DeviceState& base,
                                             double machineNow);

}  // namespace vantrel::sim
