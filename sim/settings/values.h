// What a settings command line may put in a key: the value the key's control could produce
// (a switch's on/off, one of a list's values or titles, a dialog's text), checked against the
// key table of shared/schema.h before any page is opened, so a refused value touches nothing.
// Also the near-miss suggestion the command line offers for a mistyped name. Plain functions.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/preferences/preferences.h"
#include "shared/schema.h"
#include "sim/common/result.h"
#include "sim/common/usage.h"

namespace vantrel::sim {

// The longest text a dialog takes from the command line, in bytes.
inline constexpr size_t kMaxTextBytes = 4096;

// The row of `key` on the page of `file`, or an error naming the keys of that page (with the
// nearest one when the key looks mistyped).
Result<const KeySchema*> settingKey(PreferenceFile file, std::string_view key);
// The value the key's control would hand the page for `text`: a switch takes true/false/on/off/
// yes/no/1/0, a list one of its values or titles (titles in any case), a dialog a text up to
// kMaxTextBytes. An error names what the key takes.
Result<platform::Value> controlValue(const KeySchema& row, std::string_view text);
// A text for a dialog, refused above kMaxTextBytes.
Result<void> checkText(std::string_view text);
// What the key's control takes, for errors and the key table: "true or false", "0-5 or a title
// (0: Time, ...)", "a text of up to 4096 bytes".
std::string validValuesText(const KeySchema& row);

}  // namespace vantrel::sim
