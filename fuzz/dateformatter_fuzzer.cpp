// The time item's date formatter under any pattern: animation frames are arbitrary UTF-16 (a
// scrambled user text, cut anywhere, so unpaired surrogate halves and stray quotes included).
// Each input is a pattern (UTF-16 code units, little-endian) and a time; the formatter must
// give valid UTF-8 and stay usable for the next, ordinary pattern.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/foundation/dateformatter.h"
#include "platform/foundation/log.h"

namespace {

bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
        i += n;
    }
    return true;
}

[[noreturn]] void fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "date formatter fuzzer: %s (%zu bytes of output)\n", what, text.size());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    platform::setLogToStderr(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static platform::DateFormatter formatter;  // one formatter for its life, as SpringBoard's
    if (size < 4) return 0;
    // A time within a few decades of the manual clock's start, to the second.
    uint32_t offset;
    std::memcpy(&offset, data, 4);
    double now = 1796636460.0 + static_cast<int32_t>(offset);
    std::u16string pattern;
    for (size_t i = 4; i + 1 < size; i += 2) pattern.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));

    formatter.setDateFormat(pattern);
    if (formatter.dateFormat() != pattern) fail("the pattern did not stick", formatter.dateFormatUtf8());
    std::string text = formatter.stringFromDate(now);
    if (!validUtf8(text)) fail("output is not valid UTF-8", text);
    if (!validUtf8(formatter.dateFormatUtf8())) fail("pattern read back is not valid UTF-8", text);

    // The same text arriving as UTF-8 (a stored custom text) takes the other entry point.
    std::string utf8 = platform::utf16ToUtf8(pattern);
    formatter.setDateFormat(utf8);
    if (!validUtf8(formatter.stringFromDate(now))) fail("output of the UTF-8 pattern is not valid UTF-8", text);

    formatter.setDateFormat(std::u16string(u"HH:mm"));
    std::string clock = formatter.stringFromDate(now);
    if (clock.size() != 5 || clock[2] != ':') fail("the formatter no longer formats the time", clock);
    return 0;
}
