// What the command line says and reads back as pure logic: hardware keys read and reset, the
// choices a refusal lists, and the clock text's date pattern letters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/device/device_state.h"
#include "sim/common/date_pattern.h"
#include "sim/common/hardware_keys.h"
#include "sim/common/usage.h"

namespace {

using namespace vantrel::sim;

std::vector<std::string> allKeys() {
    std::vector<std::string> names;
    for (const auto& k : hardwareKeys()) names.emplace_back(k.name);
    return names;
}

// Every key changed away from its default: reset --all must bring each one back.
platform::DeviceState changedEverywhere() {
    platform::DeviceState s;
    s.carrier.reset();
    s.simInserted = false;
    s.signalBars = 1;
    s.batteryLevel = 5;
    s.bluetoothBatteryLevel.reset();
    s.nowPlayingTitle = "Other";
    s.memory.pageSize = 4096;
    s.coreFoundationVersionNumber = 1000;
    s.installedApps = {"com.example.a"};
    s.interfaces.clear();
    s.clockOffset = 3600;
    return s;
}

TEST(HardwareValues, ResetBringsEveryKeyBackToAFreshDevice) {
    const platform::DeviceState fresh;
    platform::DeviceState s = changedEverywhere();
    auto defaults = hardwareDefaults(allKeys());
    ASSERT_TRUE(defaults) << defaults.error().message;
    auto entries = hardwareEntries(*defaults, s, 1.8e9);
    ASSERT_TRUE(entries) << entries.error().message;
    s.apply(*entries);
    for (const auto& k : hardwareKeys()) EXPECT_EQ(hardwareValue(k, s, 1.8e9), hardwareValue(k, fresh, 1.8e9)) << k.name;
}

struct Read {
    std::vector<std::string> keys;
    bool ok;
    std::string has;  // in the JSON, or in the refusal
};

void PrintTo(const Read& r, std::ostream* os) {
    for (const auto& k : r.keys) *os << k << " ";
}

class HardwareRead : public ::testing::TestWithParam<Read> {};

TEST_P(HardwareRead, ValuesAsSetTakesThemOrOneRefusal) {
    auto values = hardwareValues(GetParam().keys, changedEverywhere(), 1.8e9);
    ASSERT_EQ(static_cast<bool>(values), GetParam().ok);
    std::string text = values ? jsonDump(*values) : values.error().message;
    EXPECT_NE(text.find(GetParam().has), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, HardwareRead,
    ::testing::Values(Read{{"batteryLevel", "carrier"}, true, R"({"batteryLevel":5,"carrier":null})"},
                      Read{{"wifiAddress", "installedApps"}, true, R"({"wifiAddress":null,"installedApps":["com.example.a"]})"},
                      Read{{"clock"}, true, R"({"clock":"20)"},  // an offset is a time, not live
                      Read{{"batteryLevel", "batery"}, false, "batery is not a hardware key (did you mean batteryLevel?)"},
                      Read{{"nope"}, false, "wifiAddress6 and 28 more; see `vantrel-device keys`"},
                      Read{{}, false, "no keys given"}));

TEST(HardwareValues, ResetOfAnUnknownKeyResetsNothing) {
    auto defaults = hardwareDefaults({"batteryLevel", "bogus"});
    ASSERT_FALSE(defaults);
    EXPECT_NE(defaults.error().message.find("bogus is not a hardware key; nothing reset"), std::string::npos);
}

struct Choices {
    size_t count;
    std::string expected;
};

class RefusalChoices : public ::testing::TestWithParam<Choices> {};

TEST_P(RefusalChoices, TenAtMostThenHowManyMore) {
    std::vector<std::string> names;
    for (size_t i = 0; i < GetParam().count; ++i) names.push_back(std::string(1, static_cast<char>('a' + i)));
    EXPECT_EQ(someChoices(names, "keys"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Counts, RefusalChoices,
                         ::testing::Values(Choices{2, "a, b"}, Choices{10, "a, b, c, d, e, f, g, h, i, j"},
                                           Choices{12, "a, b, c, d, e, f, g, h, i, j and 2 more; see `keys`"}));

struct Pattern {
    const char* text;
    bool letters;
};

class TimeTextPattern : public ::testing::TestWithParam<Pattern> {};

TEST_P(TimeTextPattern, LettersOutsideQuotesAreFieldsAndTheQuotedFormShowsTheText) {
    const std::string text = GetParam().text;
    EXPECT_EQ(hasPatternLetters(text), GetParam().letters);
    EXPECT_EQ(datePatternNote(text, 1.8e9).has_value(), GetParam().letters);
    // Quoted, any text shows as typed: no letter is left outside the quotes.
    EXPECT_FALSE(hasPatternLetters(quotedPattern(text))) << quotedPattern(text);
}

INSTANTIATE_TEST_SUITE_P(Texts, TimeTextPattern,
                         ::testing::Values(Pattern{"Good morning", true}, Pattern{"'Good morning'", false},
                                           Pattern{"'_Quennick_'", false}, Pattern{"12:34 !", false}, Pattern{"'it''s'", false},
                                           Pattern{"it''s", true}, Pattern{"'a' b", true}, Pattern{"HH:mm", true}));

TEST(TimeTextPattern, TheNoteShowsWhatTheBarShowsAndTheQuotedForm) {
    auto note = datePatternNote("Good morning", 1.8e9);
    ASSERT_TRUE(note);
    EXPECT_NE(note->find("the bar shows \"AD\""), std::string::npos) << *note;
    EXPECT_NE(note->find("'Good morning'"), std::string::npos) << *note;
    EXPECT_EQ(quotedPattern("it's"), "'it''s'");
}

}  // namespace
