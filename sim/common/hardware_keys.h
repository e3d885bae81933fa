// The hardware keys `device set` and SpringBoard's SetHardware take, checked against the one
// typed table of the device's state (platform::hardwareKeys) by both the command line and the
// bus method, so the two can never disagree. Checking is all or nothing: every change is parsed
// before any is turned into device.plist entries, and a bad one comes back as an
// InvalidArgument Error naming the key and its valid values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device/device_state.h"
#include "platform/foundation/value.h"
#include "sim/common/json.h"
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

// The key's value in a state as `set` takes it back: a bool, number, text or list, null for none;
// the clock is "live" or the device's local time (machineNow plus the state's offset).
Json hardwareValue(const HardwareKey& key, const platform::DeviceState& state, double machineNow);
// The same as a word: none, true, [a,b], the text as it is.
std::string hardwareWord(const Json& value);

// A key's row of `device keys --json` (and the view's key table): key, type, values, meaning,
// default, changes, and min and max for whole numbers (max null when unbounded).
Json hardwareKeyJson(const HardwareKey& key);

// The named keys' values as one JSON object in the order asked. All or nothing: an unknown key
// refuses the whole request, naming it with the nearest key.
Result<Json> hardwareValues(const std::vector<std::string>& names, const platform::DeviceState& state, double machineNow);

// The changes (for hardwareEntries) that bring the named keys back to a fresh device's values;
// an unknown key refuses them all.
Result<platform::Dictionary> hardwareDefaults(const std::vector<std::string>& names);

// Refusal text for names that are not keys: each with its nearest key, then outcome, then a line
// of the keys (10 at most).
std::string unknownHardwareKeys(const std::vector<std::string>& unknown, std::string_view outcome);

}  // namespace vantrel::sim
