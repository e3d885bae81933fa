// What the clock modes and the animation share: setting the time item's pattern, quoting an
// inserted fact, and the lossless text form of single UTF-16 code units (surrogate halves
// included) that timer userInfo dictionaries carry. Main thread.
#pragma once

#include <string>

#include "platform/runtime/runtime.h"

namespace vantrel::tweak {

// Looks up _timeItemDateFormatter on the receiver's class and sends it setDateFormat:.
void setTimeItemPattern(id aggregator, const std::u16string& pattern);
void setTimeItemPattern(id aggregator, const std::string& utf8Pattern);

// "'%@'" for a fact put in as it is: each single quote inside is written as two, so the
// formatter shows the text exactly and never reads its tail as date fields. An empty fact
// gives an empty pattern ("''" alone would show a quote).
std::string quotedLiteral(const std::string& fact);
std::string doubledQuotes(const std::string& text);  // ' as '' inside a quoted literal

// UTF-16 to a byte string and back without loss: code points as UTF-8, unpaired surrogate
// halves as their own three-byte sequences. Bytes that form no sequence decode as U+FFFD.
std::string utf16ToWtf8(const std::u16string& units);
std::u16string wtf8ToUtf16(const std::string& bytes);

}  // namespace vantrel::tweak
