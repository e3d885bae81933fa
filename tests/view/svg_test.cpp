// The drawing's bounds (texts of any length are shortened by whole characters and nothing drawn
// grows with its input), the bar's layout and colours, the clocks drawn from the status, and
// the pictures' framings and sizes.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <ostream>
#include <string>

#include "sim/view/icons.h"
#include "sim/view/screenshot.h"
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

// A home screen status with the usual items, the carrier "Vantrel Mobile" and a time text.
Json homeStatus(const std::string& timeText) {
    Json status = {{"locked", false},
                   {"items", Json::array()},
                   {"time", {{"text", timeText}}},
                   {"service", {{"text", "Vantrel Mobile"}}},
                   {"dataNetwork", {{"type", 7}}},
                   {"battery", {{"level", 87}}},
                   {"signal", {{"bars", 4}}},
                   {"wifi", {{"bars", 3}}},
                   {"clock", {{"local", "2026-12-08T21:41"}, {"twentyFourHour", false}}}};
    for (int index : {0, 3, 4, 5, 7, 8, 13, 16}) status["items"].push_back({{"index", index}, {"enabled", true}});
    return status;
}

// The text drawn for item `index` in a drawing, or nullopt when the item is not drawn.
std::optional<std::string> itemText(const std::string& svg, int index) {
    size_t at = svg.find("data-item=\"" + std::to_string(index) + "\"");
    if (at == std::string::npos) return std::nullopt;
    size_t end = svg.find("</text>", at), start = svg.rfind('>', end);
    return svg.substr(start + 1, end - start - 1);
}

struct Crowding {
    const char* what;
    std::string timeText;
    std::string carrier;  // as drawn
};

void PrintTo(const Crowding& c, std::ostream* os) { *os << c.what; }

class CarrierTest : public testing::TestWithParam<Crowding> {};

// The carrier gives the time only the room it needs, and keeps a character and the ellipsis.
TEST_P(CarrierTest, ShortenedNotDropped) {
    const auto& c = GetParam();
    std::string bar = renderPhone(homeStatus(c.timeText), "", {0, Framing::StatusBar});
    EXPECT_EQ(itemText(bar, 4), c.carrier) << c.what;
    EXPECT_TRUE(itemText(bar, 0)) << c.what << ": the time is drawn too";
}

INSTANTIATE_TEST_SUITE_P(Bar, CarrierTest,
                         testing::Values(Crowding{"a short time leaves it whole", "09:41 PM", "Vantrel Mobile"},
                                         Crowding{"a longer time takes what it needs", "09:41 PM - 312 MB RAM", "Vantrel M…"},
                                         Crowding{"a time wider than the bar", std::string(200, 'W'), "V…"}),
                         [](const auto& info) { return std::string(info.param.what).substr(0, 1) + std::to_string(info.index); });

struct Charge {
    int level;
    bool charging;
    const char* fill;
};

class BatteryTest : public testing::TestWithParam<Charge> {};

TEST_P(BatteryTest, ColouredAsThePhone) {
    const auto& c = GetParam();
    EXPECT_EQ(batteryFill(c.level, c.charging, "#ffffff"), c.fill) << c.level << "% charging " << c.charging;
}

INSTANTIATE_TEST_SUITE_P(Levels, BatteryTest,
                         testing::Values(Charge{20, false, "#ff3b30"}, Charge{21, false, "#ffffff"}, Charge{0, false, "#ff3b30"},
                                         Charge{5, true, "#4cd964"}, Charge{100, true, "#4cd964"}));

// The home screen's band sits under items only: an empty bar (Hide All) shows the wallpaper.
TEST(StatusBar, EmptyBarHasNoBand) {
    const std::string band = "fill=\"#000\" fill-opacity=\"0.28\"";
    Json status = homeStatus("09:41 PM");
    EXPECT_NE(renderPhone(status, "", {0, Framing::StatusBar}).find(band), std::string::npos);
    for (auto& item : status["items"]) item["enabled"] = false;
    EXPECT_EQ(renderPhone(status, "", {0, Framing::StatusBar}).find(band), std::string::npos);
}

struct LockClock {
    const char* local;
    bool twentyFourHour;
    const char* shown;   // the big clock
    const char* marker;  // its AM/PM, "" for none
};

void PrintTo(const LockClock& c, std::ostream* os) { *os << c.local << (c.twentyFourHour ? " 24h" : " 12h"); }

class LockScreenClockTest : public testing::TestWithParam<LockClock> {};

// The lock screen's clock is the status's, in the time item's 12/24-hour form, whatever the
// time item shows and whatever the host's clock says.
TEST_P(LockScreenClockTest, ShowsTheDevicesClock) {
    const auto& c = GetParam();
    Json status = homeStatus("Custom");
    status["locked"] = true;
    status["clock"] = {{"local", c.local}, {"twentyFourHour", c.twentyFourHour}};
    std::string svg = renderPhone(status, "", {0, Framing::Screen});
    EXPECT_NE(svg.find(std::string(">") + c.shown + "</text>"), std::string::npos) << svg;
    for (const char* marker : {"AM", "PM"})
        EXPECT_EQ(svg.find(std::string(">") + marker + "</text>") != std::string::npos, std::string(marker) == c.marker)
            << marker;
    EXPECT_NE(svg.find(">Tuesday, December 8</text>"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Clocks, LockScreenClockTest,
                         testing::Values(LockClock{"2026-12-08T21:41", true, "21:41", ""},
                                         LockClock{"2026-12-08T21:41", false, "09:41", "PM"},
                                         LockClock{"2026-12-08T00:05", false, "12:05", "AM"},
                                         LockClock{"2026-12-08T09:41:30", true, "09:41", ""}));

class MalformedClockTest : public testing::TestWithParam<const char*> {};

// A clock not in the documented shape draws no clock, rather than a wrong one.
TEST_P(MalformedClockTest, DrawsNoClock) {
    Json status = homeStatus("Custom");
    status["locked"] = true;
    status["clock"] = {{"local", GetParam()}, {"twentyFourHour", true}};
    std::string svg = renderPhone(status, "", {0, Framing::Screen});
    EXPECT_EQ(svg.find("December"), std::string::npos) << svg;
}

INSTANTIATE_TEST_SUITE_P(Clocks, MalformedClockTest,
                         testing::Values("2026-12-08 09:41", "2026-13-08T09:41", "26-12-08T09:41", "2026-12-08T09:4x",
                                         "2026-12-08T09:41Z", "2026-12-08T-9:41", ""));

struct Crop {
    Shot shot;
    int scale;
    int width;  // --width, 0 for none
    const char* size;
};

class CropTest : public testing::TestWithParam<Crop> {};

// A picture is the points of what it names times the scale: the bar alone, no wallpaper under it.
TEST_P(CropTest, SizeIsPointsTimesScale) {
    const auto& c = GetParam();
    Json status = homeStatus("09:41 PM");
    status["locked"] = c.shot == Shot::LockScreen;
    status["notificationCenter"] = {{"open", c.shot == Shot::NotificationCentre}};
    auto svg = shotPicture(status, {c.shot, c.scale, c.width});
    ASSERT_TRUE(svg) << svg.error().message;
    size_t at = svg->find(" width=\""), end = svg->find("\" font-family");
    EXPECT_EQ(svg->substr(at + 1, end - at), c.size);
}

INSTANTIATE_TEST_SUITE_P(Framings, CropTest,
                         testing::Values(Crop{Shot::StatusBar, 1, 0, "width=\"360\" height=\"22\""},
                                         Crop{Shot::StatusBar, 2, 0, "width=\"720\" height=\"44\""},
                                         Crop{Shot::StatusBar, 3, 0, "width=\"1080\" height=\"66\""},
                                         Crop{Shot::StatusBar, 2, 180, "width=\"180\" height=\"11\""},
                                         Crop{Shot::LockScreen, 2, 0, "width=\"720\" height=\"1280\""},
                                         Crop{Shot::NotificationCentre, 1, 0, "width=\"360\" height=\"640\""},
                                         Crop{Shot::Phone, 3, 0, "width=\"1200\" height=\"2520\""}));

// The lock screen and Notification Centre are pictured only while shown.
TEST(Shot, RefusesAScreenNotShown) {
    Json status = homeStatus("09:41 PM");
    EXPECT_FALSE(shotPicture(status, {Shot::LockScreen}));
    EXPECT_FALSE(shotPicture(status, {Shot::NotificationCentre}));
}

}  // namespace
