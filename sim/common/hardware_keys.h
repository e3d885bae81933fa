// The hardware keys `device set` and SpringBoard's SetHardware take: one typed table (name,
// type, range, meaning, what it changes in DeviceState / device.plist) that both the command
// line and the bus method check against, so the two can never disagree. Checking is all or
// nothing: every change is parsed before any is turned into device.plist entries, and a bad
// one comes back as an InvalidArgument Error naming the key and its valid values.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "platform/device/device_state.h"
#include "platform/foundation/value.h"
#include "sim/common/result.h"

namespace vantrel::sim {

enum class HardwareType {
    Bool,            // true/false, on/off, yes/no, 1/0
    Int,             // a whole number within [min, max]
    OptionalInt,     // the same, or none
    String,          // taken as typed
    OptionalString,  // as typed, or none
    Real,            // a number >= min
    StringList,      // [a,b,c]
    Ipv4,            // an IPv4 address, or none
    Ipv6,            // an IPv6 address, or none
    Clock,           // HH:MM[:SS], YYYY-MM-DDTHH:MM[:SS], or live
};

inline constexpr long long kNoUpperBound = std::numeric_limits<long long>::max();
// What a text key (and each item of a list) may hold: device.plist, the status reply and the
// pictures all carry it, so no peer can make them unreadable or slow.
inline constexpr size_t kMaxHardwareText = 4096;
inline constexpr size_t kMaxHardwareListItems = 256;

struct HardwareKey {
    std::string_view name;
    HardwareType type;
    long long min = 0;
    long long max = 0;
    std::string_view meaning;
    std::string_view changes;  // the DeviceState member / device.plist key it sets
};

// Every key, in the order `device keys` lists them.
std::span<const HardwareKey> hardwareKeys();
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
