// What SpringBoard can be told to do, for its bus interface and the terminal's keys alike: each
// command runs on the main thread and either does all it says or refuses with an Error named by
// its D-Bus error name (kError* of device.h), leaving everything as it was. readValue turns one D-Bus
// value of a call into the property-list value device state keeps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"
#include "sim/common/device.h"
#include "sim/common/result.h"

namespace vantrel::sim {

Result<void> tapStatusBar();
Result<void> answerAlert(uint64_t id, const std::string& button);  // a title, or an index as text
// Checked against the hardware table (hardware_keys.h), all or nothing: one unknown key, wrong
// type or value out of range and nothing is applied. What is applied is also kept in
// device.plist (the hardware survives a respring); a clock change reaches the time item at once.
Result<void> setHardware(const DeviceFolder& device, const platform::Dictionary& changes);
// The named keys' current values as a JSON object (hardwareValues); an unknown key refuses all.
Result<std::string> getHardware(const std::vector<std::string>& keys);
// The named keys back to a fresh device's values, as setHardware, all or nothing.
Result<void> resetHardware(const DeviceFolder& device, const std::vector<std::string>& keys);

// The value at the message's read position (a basic type, a variant or a list of them);
// nullopt for anything else, dictionaries included.
std::optional<platform::Value> readValue(sd_bus_message* m);

}  // namespace vantrel::sim
