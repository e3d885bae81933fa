#include <stdlib.h>

#include <algorithm>

#include "platform/foundation/dateformatter.h"
#include "shared/settings.h"
#include "tweak/core/startup.h"
#include "tweak/core/state.h"
#include "tweak/timetext/pattern.h"
#include "tweak/timetext/timetext.h"

namespace vantrel::tweak {

namespace {

constexpr int kWindow = 20;  // random characters ahead of the settled text
constexpr double kFrameInterval = 0.2;

uint32_t systemRandom() { return arc4random(); }
uint32_t (*randomSource)() = systemRandom;

// The sets as UTF-16 code units, in order; a unit listed twice is drawn twice as often.
const std::u16string& characterSet(const std::string& className) {
    static const std::u16string upper = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static const std::u16string lower = u"abcdefghijklmnopqrstuvwxyz0123456789";
    static const std::u16string punctuation = u",.? /\\(^)^@![]{}*&^%$#";
    static const std::u16string space = u"\uF8FF" + punctuation;
    static const std::u16string wrapper = u"'";
    static const std::u16string symbol =
        u"\uF8FF"
        u"\u263A\u2639\u2665\u2605\u2606\u2714\u2602\u2708\u266A\u266B\u231A\u2318\u2325\u21E7\u2303\u2191"
        u"\u2193\u2190\u2192\u261E\u262E\u2640\u2642\u00A9\u2122\u00D7\u00B1\u2260\u221E\u03C0\u00B2\u00BC"
        u"\u2153\u00BD\u00BE\u00B6\u2660\u2666\u2663\u262F\u273F\u2709\u260E\u2704\u2620\u2603\u272A" +
        punctuation + u"\"";
    static const std::u16string none;
    if (className == "upperLetter") return upper;
    if (className == "lowerLetter") return lower;
    if (className == "space") return space;
    if (className == "wrapper") return wrapper;
    if (className == "symbol") return symbol;
    return none;
}

// Every unit above U+007F is a symbol: judged by its low byte alone, U+2027 would scramble into
// a single quote and turn the rest of a quoted text into date fields.
const char* classify(char16_t c) {
    if (c >= u'A' && c <= u'Z') return "upperLetter";
    if (c >= u'a' && c <= u'z') return "lowerLetter";
    if (c == u' ') return "space";
    if (c == u'\'') return "wrapper";
    return "symbol";
}

void startAnimation(id self, const std::string& source) {
    isAnimatingText = true;
    types.clear();
    letters.clear();
    myStr.clear();
    const std::u16string units = platform::utf8ToUtf16(source);
    for (char16_t unit : units) myStr.emplace_back(1, unit);
    for (size_t i = 0; i < myStr.size(); ++i) {
        types.emplace_back(classify(myStr[i][0]));
        letters.push_back(static_cast<int>(i));
    }
    const std::vector<std::u16string> text = myStr;  // myStr is emptied when the animation ends
    msgSend<void>(self, sel("shuffle:array:"), -kWindow, &text);
}

platform::Array encodeList(const std::vector<std::u16string>& list) {
    platform::Array out;
    out.reserve(list.size());
    for (const auto& entry : list) out.emplace_back(utf16ToWtf8(entry));
    return out;
}

void endAnimation(id self) {
    clearAnimationLists();
    isAnimatingText = false;
    isReverse = !isReverse;
    postSettingsChanged(ItemCode::ClockMode);
    platform::Dictionary ended{{kAnimationFlagKey, 0}};
    msgSend<void>(self, sel("notifySettings:"), static_cast<const platform::Dictionary*>(&ended));
}

}  // namespace

void setRandomSource(uint32_t (*source)()) { randomSource = source ? source : systemRandom; }

std::u16string randomChar_(id, SEL, std::string className) {
    const std::u16string& set = characterSet(className);
    if (set.empty()) return std::u16string();
    const double r = static_cast<double>(randomSource()) * 0x1p-32 * static_cast<double>(set.size());
    const size_t index = std::min(static_cast<size_t>(r), set.size() - 1);
    return std::u16string(1, set[index]);
}

void animateText(id self, SEL) { startAnimation(self, timeText); }
void reverseAnimateText(id self, SEL) { startAnimation(self, reverseText); }

void shuffle_array_(id self, SEL, int start, const std::vector<std::u16string>* list) {
    const long n = static_cast<long>(letters.size());
    strCopy = list ? *list : std::vector<std::u16string>{};
    if (n < start) return endAnimation(self);

    SEL randomChar = sel("randomChar:");
    const long count = std::min<long>(n, static_cast<long>(strCopy.size()));
    for (long i = std::max(start, 0); i < count; ++i) {
        if (i < static_cast<long>(start) + kWindow) {
            size_t position = static_cast<size_t>(letters[static_cast<size_t>(i)]);
            const std::string& cls = position < types.size() ? types[position] : std::string();
            strCopy[static_cast<size_t>(i)] = msgSend<std::u16string>(self, randomChar, cls);
        } else {
            strCopy[static_cast<size_t>(i)].clear();
        }
    }
    std::u16string frame;
    for (const auto& piece : strCopy) frame += piece;
    customTime = frame;
    setTimeItemPattern(self, customTime);
    msgSend<void>(self, sel("_updateTimeItems"));

    platform::Dictionary next{{"startNumber", start + 1}, {"theString", encodeList(list ? *list : strCopy)}};
    platform::Timer::scheduled(
        kFrameInterval, platform::Timer::Repeats::No,
        [self](platform::Timer& timer) { msgSend<void>(self, sel("reShuffle:"), &timer); }, std::move(next));
}

void reShuffle_(id self, SEL, platform::Timer* timer) {
    if (!timer) return;
    const platform::Dictionary& info = timer->userInfo();
    std::optional<int32_t> start = platform::readInt32(platform::lookup(info, "startNumber"));
    const platform::Value* text = platform::lookup(info, "theString");
    if (!start || !text || !text->array()) return;
    std::vector<std::u16string> list;
    list.reserve(text->array()->size());
    for (const auto& entry : *text->array()) list.push_back(entry.string() ? wtf8ToUtf16(*entry.string()) : u"");
    msgSend<void>(self, sel("shuffle:array:"), static_cast<int>(*start), static_cast<const std::vector<std::u16string>*>(&list));
}

}  // namespace vantrel::tweak
