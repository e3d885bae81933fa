// What the Settings app prints: a page's rows (each control's value beside the stored value,
// the default, the type and whether the switch is negated), one key's stored value, the key
// table of the preference files, and the dialogs on screen; as text for a person or as JSON
// (one line, fields in the documented order, docs/cli.md). Plain functions, main thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/preferences/settings_app.h"
#include "shared/schema.h"
#include "sim/common/json.h"

namespace vantrel::sim {

// `show`: the rows of a page of `file` whose settings dictionary is `stored`.
std::string showPage(const std::string& name, PreferenceFile file, const std::vector<platform::SpecifierRow>& rows,
                     const platform::Dictionary& stored, bool json);
// `get`: the stored value of `row` (nullopt: unset, so its default is said).
std::string storedValue(PreferenceFile file, const KeySchema& row, const std::optional<platform::Value>& stored, bool json);
// `keys`: the rows of the key table of one file, or of all three.
std::string keyTable(std::optional<PreferenceFile> only, bool json);

// The dialogs the Settings app shows, oldest first.
Json alertsJson();
std::string alertsText();

}  // namespace vantrel::sim
