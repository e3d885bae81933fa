// The custom clock text is a date pattern: letters outside single quotes are date fields, so
// "Good morning" shows as the era. The command line keeps such a text (it may be meant) but
// says what the bar will show and how to quote it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantrel::sim {

// True when the text has an ASCII letter outside single quotes ('' is a quote, not a quote mark).
bool hasPatternLetters(std::string_view pattern);

// The pattern that shows text exactly as typed: inside single quotes, each quote doubled.
std::string quotedPattern(std::string_view text);

// For a pattern with letters: what the bar shows at the time (the platform's date formatter)
// and the quoted form, as two lines; nullopt when the text has no pattern letters.
std::optional<std::string> datePatternNote(std::string_view pattern, double unixSeconds);

}  // namespace vantrel::sim
