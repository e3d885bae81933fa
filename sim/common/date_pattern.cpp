#include "sim/common/date_pattern.h"

#include "platform/foundation/dateformatter.h"

namespace vantrel::sim {

bool hasPatternLetters(std::string_view pattern) {
    bool quoted = false;
    for (char c : pattern) {
        if (c == '\'')
            quoted = !quoted;  // '' toggles twice: a quote, no change of state
        else if (!quoted && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return true;
    }
    return false;
}

std::string quotedPattern(std::string_view text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

std::optional<std::string> datePatternNote(std::string_view pattern, double unixSeconds) {
    if (!hasPatternLetters(pattern)) return std::nullopt;
    platform::DateFormatter formatter;
    formatter.setDateFormat(std::string(pattern));
    return "it is a date pattern (letters outside single quotes are date fields): the bar shows \"" +
           formatter.stringFromDate(unixSeconds) + "\"\nto show it as typed, quote it: " + quotedPattern(pattern);
}

}  // namespace vantrel::sim
