#include <algorithm>

#include "tests/tweak/timetext_support.h"
#include "tweak/timetext/pattern.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

const std::u16string kUpper = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
const std::u16string kLower = u"abcdefghijklmnopqrstuvwxyz0123456789";
const std::u16string kSpace = u"\uF8FF,.? /\\(^)^@![]{}*&^%$#";
const std::u16string kSymbol =
    u"\uF8FF\u263A\u2639\u2665\u2605\u2606\u2714\u2602\u2708\u266A\u266B\u231A\u2318\u2325\u21E7\u2303\u2191\u2193"
    u"\u2190\u2192\u261E\u262E\u2640\u2642\u00A9\u2122\u00D7\u00B1\u2260\u221E\u03C0\u00B2\u00BC\u2153\u00BD\u00BE"
    u"\u00B6\u2660\u2666\u2663\u262F\u273F\u2709\u260E\u2704\u2620\u2603\u272A,.? /\\(^)^@![]{}*&^%$#\"";

const std::u16string& setFor(char16_t c) {
    static const std::u16string wrapper = u"'";
    if (c >= u'A' && c <= u'Z') return kUpper;
    if (c >= u'a' && c <= u'z') return kLower;
    if (c == u' ') return kSpace;
    if (c == u'\'') return wrapper;
    return kSymbol;
}

uint32_t seeded() {
    static uint64_t state = 0x9E3779B97F4A7C15ull;
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 16);
}

uint32_t counterValue = 0;
uint32_t counter() { return counterValue; }

class AnimationTest : public TimeTextTest {
protected:
    // Starts the animation of `text` and collects every frame until it ends.
    std::vector<std::u16string> play(const std::string& text) {
        tweak::timeText = text;
        std::vector<std::u16string> frames;
        msgSend<void>(aggregator(), tweak::sel("animateText"));
        frames.push_back(tweak::customTime);
        const double start = loop().now();
        while (tweak::isAnimatingText && loop().now() - start < 120.0) {
            loop().advance(0.2);
            if (tweak::isAnimatingText) frames.push_back(tweak::customTime);
            shownFrames_.push_back(shown());
        }
        endedAfter_ = loop().now() - start;
        return frames;
    }
    std::vector<std::string> shownFrames_;
    double endedAfter_ = 0;
};

TEST_F(AnimationTest, TwelveUnitTextFramesWindowAndTimes) {
    tweak::setRandomSource(seeded);
    const std::u16string text = u"'_Quennick_'";
    auto frames = play("'_Quennick_'");
    ASSERT_EQ(frames.size(), 33u);        // start indices -20 to 12
    EXPECT_NEAR(endedAfter_, 6.6, 1e-5);  // the clock reads seconds since 1970
    EXPECT_TRUE(frames.front().empty());
    EXPECT_EQ(frames.back(), text);
    for (int k = 0; k < 33; ++k) {
        const int s = k - 20;
        const auto& f = frames[static_cast<size_t>(k)];
        ASSERT_EQ(f.size(), static_cast<size_t>(std::clamp(s + 20, 0, 12))) << s;
        for (int i = 0; i < static_cast<int>(f.size()); ++i) {
            char16_t real = text[static_cast<size_t>(i)];
            if (i < s)
                EXPECT_EQ(f[static_cast<size_t>(i)], real) << "settled " << s << " " << i;
            else
                EXPECT_NE(setFor(real).find(f[static_cast<size_t>(i)]), std::u16string::npos) << s << " " << i;
        }
    }
    // Start index 0: all twelve scrambled, the quotes still quotes.
    EXPECT_EQ(frames[20].front(), u'\'');
    EXPECT_EQ(frames[20].back(), u'\'');
    EXPECT_NE(frames[20], text);

    EXPECT_FALSE(tweak::isAnimatingText);
    EXPECT_TRUE(tweak::isReverse);
    EXPECT_TRUE(tweak::myStr.empty() && tweak::types.empty() && tweak::letters.empty() && tweak::strCopy.empty());
    ASSERT_GE(postedNotifications().size(), 2u);
    EXPECT_EQ(postedNotifications()[0].name, kSettingsChangedNotification);
    EXPECT_EQ(postedNotifications()[0].userInfo, (Dictionary{{kItemToggledKey, 26}}));
    EXPECT_EQ(animationFlags(), std::vector<int64_t>{0});
}

TEST_F(AnimationTest, EachClassDrawsOnlyFromItsSetInOrder) {
    const std::pair<const char*, std::u16string> classes[] = {
        {"upperLetter", kUpper}, {"lowerLetter", kLower}, {"space", kSpace}, {"wrapper", u"'"}, {"symbol", kSymbol}};
    EXPECT_EQ(kSpace.size(), 23u);
    EXPECT_EQ(kSymbol.size(), 71u);
    tweak::setRandomSource(counter);
    for (const auto& [name, set] : classes) {
        const uint64_t k = set.size();
        for (uint64_t i = 0; i < k; ++i) {
            counterValue = static_cast<uint32_t>(((2 * i + 1) << 32) / (2 * k));  // the middle of slot i
            EXPECT_EQ(msgSend<std::u16string>(aggregator(), tweak::sel("randomChar:"), std::string(name)),
                      std::u16string(1, set[i]))
                << name << " " << i;
        }
        counterValue = 0xFFFFFFFFu;
        EXPECT_EQ(msgSend<std::u16string>(aggregator(), tweak::sel("randomChar:"), std::string(name)),
                  std::u16string(1, set.back()));
    }
    EXPECT_EQ(msgSend<std::u16string>(aggregator(), tweak::sel("randomChar:"), std::string("none")), u"");
}

TEST_F(AnimationTest, ScrambledPositionsKeepTheirClass) {
    tweak::setRandomSource(seeded);
    const std::u16string text = u"'AB 5 x'";
    auto frames = play("'AB 5 x'");
    ASSERT_EQ(frames.size(), text.size() + 21);
    for (size_t k = 20; k < frames.size(); ++k)
        for (size_t i = k - 20; i < frames[k].size(); ++i)
            EXPECT_NE(setFor(text[i]).find(frames[k][i]), std::u16string::npos) << k << " " << i;
    // Units above U+007F scramble as symbols: never a quote that would open a literal.
    tweak::setRandomSource(counter);
    counterValue = 0;
    auto wide = play("\u2027");
    EXPECT_EQ(wide[20], u"\uF8FF");
}

TEST_F(AnimationTest, SurrogateHalvesNeverBreakAFrame) {
    tweak::setRandomSource(seeded);
    const std::string text = "'\xF0\x9F\x98\x80 Hi \xF0\x9F\x8E\xB5'";  // two emoji, four halves
    auto frames = play(text);
    ASSERT_EQ(frames.size(), 10u + 21u);
    for (const auto& s : shownFrames_) EXPECT_EQ(platform::utf16ToUtf8(platform::utf8ToUtf16(s)), s);
    EXPECT_EQ(frames.back(), platform::utf8ToUtf16(text));
    // The settled text, pairs and all, comes back whole through the frame timers' userInfo.
    ASSERT_GE(shownFrames_.size(), 2u);
    EXPECT_EQ(shownFrames_[shownFrames_.size() - 2], "\xF0\x9F\x98\x80 Hi \xF0\x9F\x8E\xB5");
}

// The userInfo text form of code units: each width of UTF-8, pairs joined, halves kept alone,
// and bytes that form no sequence read as U+FFFD (one per byte that starts nothing).
TEST(TimerText, UnitsAndBytesConvertBothWays) {
    struct Row {
        std::u16string units;
        std::string bytes;
        bool roundTrip;  // false: bytes only decode to units
    };
    const Row rows[] = {
        {u"a", "a", true},
        {u"\u00E9\u07FF", "\xC3\xA9\xDF\xBF", true},
        {u"\u20AC\uFFFF", "\xE2\x82\xAC\xEF\xBF\xBF", true},
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80", true},
        {u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF", true},
        {u"\xD83D.", "\xED\xA0\xBD.", true},
        {u"\xDE00\xD83D", "\xED\xB8\x80\xED\xA0\xBD", true},  // a low half before a high one: no pair
        {u"\uFFFD\uFFFD", "\xC0\x80", false},                 // overlong two bytes
        {u"\uFFFD", "\xE0\x80\x80", false},                   // overlong three bytes
        {u"\uFFFD", "\xF4\x90\x80\x80", false},               // past U+10FFFF
        {u"\uFFFD\uFFFDa",
         "\xE2\x82"
         "a",
         false},  // cut short
    };
    for (const auto& r : rows) {
        EXPECT_EQ(tweak::wtf8ToUtf16(r.bytes), r.units) << r.bytes;
        if (r.roundTrip) {
            EXPECT_EQ(tweak::utf16ToWtf8(r.units), r.bytes) << r.bytes;
        }
    }
}

TEST_F(AnimationTest, EmptyTextGivesTwentyOneEmptyFrames) {
    auto frames = play("");
    ASSERT_EQ(frames.size(), 21u);
    for (const auto& f : frames) EXPECT_TRUE(f.empty());
    EXPECT_NEAR(endedAfter_, 4.2, 1e-5);
}

TEST_F(AnimationTest, LoopAlternatesTextsAndRearmsThroughCode26) {
    finishLaunching();
    writeMain({{"clockformat", 5}, {"animatedcustomtime", true}, {"timeText", "'Time'"}, {"reverseString", "'Rev'"}});
    enter(tweak::ClockEntry::Forced);
    loop().runPending();
    EXPECT_EQ(animationFlags(), std::vector<int64_t>{1});
    EXPECT_EQ(pattern(), "'before'");  // the time stays until the first frame
    loop().advance(9.99);
    EXPECT_EQ(pattern(), "'before'");
    loop().advance(0.01);
    EXPECT_EQ(pattern(), "");  // first frame

    loop().advance(0.2 * (5 + 20));  // 'Rev' settles
    EXPECT_EQ(shown(), "Rev");
    loop().advance(0.21);  // the end posts 26; its step arms 'Time'
    EXPECT_TRUE(tweak::isReverse);
    EXPECT_EQ(animationFlags(), (std::vector<int64_t>{1, 0, 1}));
    EXPECT_TRUE(tweak::isAnimatingText);  // armed again
    EXPECT_EQ(shown(), "Rev");

    loop().advance(10.0 + 0.2 * (6 + 20));
    EXPECT_EQ(shown(), "Time");
    loop().advance(0.2);
    EXPECT_FALSE(tweak::isReverse);
    EXPECT_EQ(animationFlags(), (std::vector<int64_t>{1, 0, 1, 0, 1}));
}

}  // namespace

// A timer whose userInfo is not the animation's own draws no frame; a text entry that is no
// string is drawn as nothing rather than ending the frame.
TEST_F(AnimationTest, ReShuffleTakesOnlyItsOwnUserInfo) {
    using platform::Array;
    using platform::Dictionary;
    auto reShuffle = [&](const Dictionary& info) {
        auto timer = platform::Timer::scheduled(
            60.0, platform::Timer::Repeats::No, [](platform::Timer&) {}, info);
        msgSend<void>(aggregator(), tweak::sel("reShuffle:"), timer.get());
        timer->invalidate();
    };
    tweak::customTime = u"kept";
    for (const Dictionary& foreign : {Dictionary{}, Dictionary{{"startNumber", 1}}, Dictionary{{"theString", Array{}}},
                                      Dictionary{{"startNumber", 1}, {"theString", "'text'"}}}) {
        reShuffle(foreign);
        EXPECT_EQ(tweak::customTime, u"kept");
    }
    msgSend<void>(aggregator(), tweak::sel("reShuffle:"), static_cast<platform::Timer*>(nullptr));
    EXPECT_EQ(tweak::customTime, u"kept");
    reShuffle({{"startNumber", 0}, {"theString", Array{platform::Value(7), platform::Value("a")}}});
    EXPECT_EQ(tweak::customTime, u"a");
}
