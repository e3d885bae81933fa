#include "sim/settings/values.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

namespace vantrel::sim {
namespace {

// What a value is in an error: long input cut, so the error stays one readable line.
std::string quoted(std::string_view text) {
    constexpr size_t kShown = 40;
    if (text.size() <= kShown) return "\"" + std::string(text) + "\"";
    return "\"" + std::string(text.substr(0, kShown)) + "...\" (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace

Result<const KeySchema*> settingKey(PreferenceFile file, std::string_view key) {
    if (const KeySchema* row = findKey(file, key)) return row;
    std::vector<std::string> keys;
    for (const KeySchema& row : schemaRows(file)) keys.emplace_back(row.key);
    std::string said = "the page " + std::string(fileName(file)) + " has no setting " + quoted(key);
    if (auto close = nearest(key, keys)) said += " (did you mean " + *close + "?)";
    return failure(said + "\nits keys: " + someChoices(keys, typedCommand("vantrel-settings", "keys")));
}

Result<void> checkText(std::string_view text) {
    if (text.size() > kMaxTextBytes)
        return failure("the text is " + std::to_string(text.size()) + " bytes; a dialog takes at most " +
                       std::to_string(kMaxTextBytes));
    return {};
}

std::string validValuesText(const KeySchema& row) {
    switch (row.control) {
    case Control::Switch: return "true or false (on/off, yes/no, 1/0)";
    case Control::TextDialog: return "a text of up to " + std::to_string(kMaxTextBytes) + " bytes";
    case Control::None: return "nothing: no control of the page sets it";
    case Control::List: break;
    }
    std::string out = std::to_string(row.valid.min) + "-" + std::to_string(row.valid.max) + " or a title (";
    for (size_t i = 0; i < row.valid.titles.size(); ++i)
        out += (i ? ", " : "") + std::to_string(row.valid.min + static_cast<int64_t>(i)) + ": " + row.valid.titles[i];
    return out + ")";
}

Result<platform::Value> controlValue(const KeySchema& row, std::string_view text) {
    auto refused = [&](const std::string& why) {
        return failure(std::string(row.key) + " does not take " + quoted(text) + why + "; it takes " + validValuesText(row));
    };
    switch (row.control) {
    case Control::Switch: {
        if (auto truth = truthWord(text)) return platform::Value(*truth);
        return refused("");
    }
    case Control::List: {
        long long n = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec == std::errc() && end == text.data() + text.size()) {
            if (n >= row.valid.min && n <= row.valid.max) return platform::Value(n);
            return refused(" (out of range)");
        }
        if (ec == std::errc::result_out_of_range) return refused(" (out of range)");
        for (size_t i = 0; i < row.valid.titles.size(); ++i)
            if (lowercase(row.valid.titles[i]) == lowercase(text))
                return platform::Value(static_cast<long long>(row.valid.min + static_cast<int64_t>(i)));
        return refused("");
    }
    case Control::TextDialog:
        if (auto fits = checkText(text); !fits) return fits.error();
        return platform::Value(std::string(text));
    case Control::None: break;
    }
    return failure(std::string(row.key) + " is not set from its page (no control of the page changes it)");
}

}  // namespace vantrel::sim
