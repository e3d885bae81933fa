// The JSON the control tools print: an ordered value (objects keep the order fields were added,
// so the documented field order is what scripts see) and its compact encoding. Bytes that are
// not UTF-8 come out as U+FFFD rather than failing, so printing never throws. Plain data.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "platform/foundation/value.h"

namespace vantrel::sim {

using Json = nlohmann::ordered_json;

// A property-list value (data as "<N bytes>", dates as seconds since 2001).
Json jsonFrom(const platform::Value& value);
// Compact, on one line; never throws.
std::string jsonDump(const Json& value);

}  // namespace vantrel::sim
