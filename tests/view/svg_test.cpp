// The drawing's bounds: texts of any length are shortened by whole characters and nothing drawn
// grows with its input.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

#include "sim/view/svg.h"

using namespace vantrel::sim;
using namespace vantrel::sim::view;

namespace {

struct Shortening {
    const char* what;
    std::string text;
    double maxWidth;  // at font size 10: "a" is 5.6 wide, "é" and "…" 7
    std::string expected;
};

void PrintTo(const Shortening& c, std::ostream* os) { *os << c.what; }

class ShortenedTest : public testing::TestWithParam<Shortening> {};

TEST_P(ShortenedTest, CutsAtWholeCharacters) {
    const auto& c = GetParam();
    std::string got = shortened(c.text, c.maxWidth, 10);
    EXPECT_EQ(got, c.expected) << c.what;
    EXPECT_LE(textWidth(got, 10), c.maxWidth) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ShortenedTest,
    testing::Values(Shortening{"fits whole", "aaaa", 23, "aaaa"}, Shortening{"one over", "aaaaa", 22.4, "aa…"},
                    Shortening{"not one character fits", "aaaa", 12, ""},
                    Shortening{"a megabyte, cut to what fits", std::string(1 << 20, 'a'), 100, std::string(16, 'a') + "…"},
                    Shortening{"a megabyte of two-byte characters", std::string(1 << 20, 'x').replace(0, 4, "éé"), 20, "é…"}),
    [](const auto& info) {
        std::string name;
        for (char c : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

// A status of megabyte texts where users put theirs: the carrier, alerts and their buttons.
Json hugeStatus() {
    const std::string huge(1 << 20, 'W'), wide = [] {
        std::string s;
        for (int i = 0; i < (1 << 18); ++i) s += "漢";
        return s;
    }();
    Json status = {{"items", Json::array()},
                   {"time", {{"text", "09:41"}}},
                   {"service", {{"text", wide}}},
                   {"dataNetwork", {{"type", 1}, {"label", "LTE"}}},
                   {"alerts", Json::array()}};
    for (int index : {0, 4, 5}) status["items"].push_back({{"index", index}, {"enabled", true}});
    status["alerts"].push_back({{"id", 0}, {"title", huge}, {"message", wide}, {"buttons", Json::array({huge, wide})}});
    for (int i = 1; i < 100; ++i) status["alerts"].push_back({{"id", i}, {"title", "A"}, {"buttons", Json::array({"OK"})}});
    return status;
}

TEST(BoundTexts, EveryTextAndListIsBounded) {
    Json status = boundTexts(hugeStatus());
    const std::string title = status["/alerts/0/title"_json_pointer], carrier = status["/service/text"_json_pointer];
    EXPECT_EQ(title, std::string(kMaxTextBytes - 3, 'W') + "…");
    // Cut before the character that would not fit whole.
    EXPECT_LE(carrier.size(), kMaxTextBytes);
    EXPECT_EQ(carrier.substr(carrier.size() - 6), "漢…");
    EXPECT_EQ(status["alerts"].size(), kMaxListItems);
    EXPECT_EQ(status["/time/text"_json_pointer], "09:41");  // short texts and lists come through whole
    EXPECT_EQ(status["items"].size(), 3u);
}

TEST(RenderPhone, DrawingStaysSmallWhateverTheTexts) {
    Json status = hugeStatus();
    EXPECT_LT(renderPhone(status, "").size(), 256u * 1024) << "a drawing that grows with its texts";
    status.erase("alerts");
    std::string bar = renderPhone(status, "", {0, Framing::StatusBar});
    EXPECT_NE(bar.find("漢…</text>"), std::string::npos) << "the carrier shortened where the time crowds it";
    status["time"]["text"] = std::string(1 << 20, 'W');  // a time that crowds out the carrier altogether
    EXPECT_LT(renderPhone(status, "", {0, Framing::StatusBar}).size(), 16u * 1024);
}

}  // namespace
