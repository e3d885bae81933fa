#include <memory>

#include "tests/tweak/timetext_support.h"

using namespace vantrel;
using namespace vantrel::test;
using tweak::ClockEntry;

namespace {

constexpr ClockEntry R = ClockEntry::Reset, F = ClockEntry::Forced, Rf = ClockEntry::Refresh;
constexpr int kModeFiveAnimated = 55;  // mode 5 with "animatedcustomtime"

struct ModeCase {
    int mode;
    ClockEntry entry;
    const char* pattern;  // nullptr: the step leaves the pattern alone
    bool endsTimer;       // a running refresh timer is ended
    double creates;       // interval of the timer made when none runs; 0: none
};

std::ostream& operator<<(std::ostream& os, const ModeCase& c) {
    return os << "mode " << c.mode << " entry " << static_cast<int>(c.entry);
}

// The defaults of the simulated device: en0 192.168.1.20, pdp_ip0 10.64.12.7, "Quennick Home",
// 781 MiB free.
const ModeCase kModeTable[] = {
    {0, R, "hh:mm a", true, 0},
    {0, F, "hh:mm a", true, 0},
    {0, Rf, "hh:mm a", true, 0},
    {1, R, "'192.168.1.20'", true, 0},
    {1, F, "'192.168.1.20'", false, 10},
    {1, Rf, "'192.168.1.20'", true, 0},
    {2, R, "'10.64.12.7'", false, 10},
    {2, F, "'10.64.12.7'", false, 10},
    {2, Rf, "'10.64.12.7'", false, 0},
    {3, R, "'Quennick Home'", true, 0},
    {3, F, "'Quennick Home'", false, 10},
    {3, Rf, "'Quennick Home'", true, 0},
    {4, R, "'781 MB RAM'", false, 2},
    {4, F, "'781 MB RAM'", false, 2},
    {4, Rf, "'781 MB RAM'", false, 0},
    {5, R, "'_Quennick_'", true, 1},
    {5, F, "'_Quennick_'", true, 1},
    {5, Rf, "'_Quennick_'", true, 1},
    {kModeFiveAnimated, R, nullptr, true, 0},
    {kModeFiveAnimated, F, nullptr, true, 0},
    {kModeFiveAnimated, Rf, nullptr, true, 0},
};

class ClockModeTest : public TimeTextTest, public ::testing::WithParamInterface<std::tuple<ModeCase, bool>> {
protected:
    void writeMode(int mode) {
        bool animated = mode == kModeFiveAnimated;
        writeMain({{"clockformat", animated ? 5 : mode}, {"animatedcustomtime", animated}, {"1224", false}});
    }
};

TEST_P(ClockModeTest, PatternTimerAndAlertPerEntry) {
    const auto& [c, timerRunning] = GetParam();
    writeMode(c.mode);
    std::weak_ptr<platform::Timer> before;
    if (timerRunning) {
        tweak::clockRefreshTimer = platform::Timer::scheduled(5.0, platform::Timer::Repeats::Yes, [](platform::Timer&) {});
        before = tweak::clockRefreshTimer;
    }
    enter(c.entry);

    // Reset runs SpringBoard's own formatter reset first.
    const std::string untouched = c.entry == R ? "h:mm a" : "'before'";
    EXPECT_EQ(pattern(), c.pattern ? c.pattern : untouched);
    if (timerRunning && !c.endsTimer) {
        EXPECT_EQ(tweak::clockRefreshTimer, before.lock()) << "kept";
        EXPECT_DOUBLE_EQ(tweak::clockRefreshTimer->timeInterval(), 5.0);
    } else {
        if (timerRunning) {
            EXPECT_FALSE(before.lock() && before.lock()->isValid()) << "ended";
        }
        if (c.creates > 0) {
            ASSERT_TRUE(tweak::clockRefreshTimer) << "created";
            EXPECT_TRUE(tweak::clockRefreshTimer->repeats());
            EXPECT_DOUBLE_EQ(tweak::clockRefreshTimer->timeInterval(), c.creates);
        } else {
            EXPECT_FALSE(tweak::clockRefreshTimer);
        }
    }
    EXPECT_TRUE(platform::visibleAlerts().empty());
    EXPECT_EQ(tweak::isAnimatingText, c.mode == kModeFiveAnimated);
    loop().runPending();
    EXPECT_EQ(animationFlags(), c.mode == kModeFiveAnimated ? std::vector<int64_t>{1} : std::vector<int64_t>{});
}

INSTANTIATE_TEST_SUITE_P(ModeByEntry, ClockModeTest, ::testing::Combine(::testing::ValuesIn(kModeTable), ::testing::Bool()));

class ArmedClockModeTest : public TimeTextTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ArmedClockModeTest, OnlyTheAlertOrARender) {
    const ModeCase& c = GetParam();
    writeMain({{"clockformat", c.mode}, {"1224", false}});
    tweak::isAnimatingText = true;
    enter(c.entry);
    const std::string untouched = c.entry == R ? "h:mm a" : "'before'";
    EXPECT_EQ(pattern(), untouched);
    bool alert = c.mode < 5 || c.entry != F;
    EXPECT_EQ(alertTitles(), alert ? std::vector<std::string>{"Time Text"} : std::vector<std::string>{});
    if (c.mode == 5) {
        EXPECT_EQ(callsAtDepth(c.entry == R ? 0 : 1).back(), "_updateTimeItems");
    }
    EXPECT_TRUE(tweak::isAnimatingText);
}

// Every row but the animated ones, which arm instead.
INSTANTIATE_TEST_SUITE_P(ModeByEntry, ArmedClockModeTest, ::testing::ValuesIn(std::begin(kModeTable), std::end(kModeTable) - 3));

TEST_F(TimeTextTest, ForcedChangesKeepTheIntervalOfTheRunningTimer) {
    writeMain({{"clockformat", 2}});
    enter(F);
    writeMain({{"clockformat", 4}});
    enter(F);
    ASSERT_TRUE(tweak::clockRefreshTimer);
    EXPECT_DOUBLE_EQ(tweak::clockRefreshTimer->timeInterval(), 10.0);

    writeMain({{"clockformat", 0}});
    enter(F);
    EXPECT_FALSE(tweak::clockRefreshTimer);
    writeMain({{"clockformat", 4}});
    enter(F);
    ASSERT_TRUE(tweak::clockRefreshTimer);
    EXPECT_DOUBLE_EQ(tweak::clockRefreshTimer->timeInterval(), 2.0);
}

TEST_F(TimeTextTest, FixedCustomTextRecreatesItsTimerEveryTick) {
    writeMain({{"clockformat", 5}, {"timeText", "'Hello'"}});
    enter(F);
    std::weak_ptr<platform::Timer> first = tweak::clockRefreshTimer;
    ASSERT_TRUE(first.lock());
    loop().advance(1.0);
    ASSERT_TRUE(tweak::clockRefreshTimer);
    EXPECT_NE(tweak::clockRefreshTimer, first.lock());
    EXPECT_FALSE(first.lock() && first.lock()->isValid());
    EXPECT_DOUBLE_EQ(tweak::clockRefreshTimer->timeInterval(), 1.0);
    EXPECT_EQ(shown(), "Hello");
    EXPECT_EQ(tweak::customTime, u"'Hello'");
}

TEST_F(TimeTextTest, ModeZeroWhileArmedKeepsTheTextAndShowsTheAlert) {
    writeMain({{"clockformat", 5}, {"animatedcustomtime", true}});
    enter(F);
    setPattern("'_Quennick_'");
    writeMain({{"clockformat", 0}});
    enter(F);
    EXPECT_EQ(pattern(), "'_Quennick_'");
    ASSERT_EQ(platform::visibleAlerts().size(), 1u);
    auto alert = platform::visibleAlerts()[0];
    EXPECT_EQ(alert->title(), "Time Text");
    EXPECT_EQ(alert->message(),
              "Currently, the animation loop is running.\n\nYour selection will become active as soon the current "
              "animation loop has finished.");
    EXPECT_EQ(alert->buttonTitles(), std::vector<std::string>{"OK"});
    EXPECT_EQ(alert->delegate(), nullptr);
}

TEST_F(TimeTextTest, InsertedFactsShowExactlyAsTheyAre) {
    platform::deviceState().wifiNetwork = "Bob's 'hh' Net";
    writeMain({{"clockformat", 3}});
    enter(F);
    EXPECT_EQ(pattern(), "'Bob''s ''hh'' Net'");
    EXPECT_EQ(shown(), "Bob's 'hh' Net");

    platform::deviceState().wifiNetwork.reset();
    enter(F);
    EXPECT_EQ(shown(), "No WiFi Connected");
}

TEST_F(TimeTextTest, MemoryPatterns) {
    platform::deviceState().memory = {16384, 19968, 0, true};  // 312 MiB
    writeMain({{"clockformat", 4}});
    enter(F);
    EXPECT_EQ(pattern(), "'312 MB RAM'");
    EXPECT_EQ(shown(), "312 MB RAM");
    writeMain({{"clockformat", 4}, {"ramtime", true}});
    enter(Rf);
    EXPECT_EQ(pattern(), "hh:mm a - '312 MB RAM'");
    writeMain({{"clockformat", 4}, {"ramtime", true}, {"1224", true}});
    enter(Rf);
    EXPECT_EQ(pattern(), "HH:mm - '312 MB RAM'");
    writeMain({{"clockformat", 0}, {"1224", true}});
    enter(F);
    EXPECT_EQ(pattern(), "HH:mm");
    // "1224" is a number read as an integer: a fraction below one is 0, a digit string counts.
    writeMain({{"clockformat", 0}, {"1224", 0.5}});
    enter(F);
    EXPECT_EQ(pattern(), "hh:mm a");
    writeMain({{"clockformat", 0}, {"1224", "1"}});
    enter(F);
    EXPECT_EQ(pattern(), "HH:mm");
}

TEST_F(TimeTextTest, NowPlayingAlternatesAndStops) {
    writeMain({{"clockformat", 5}, {"nowplaying", true}});
    enter(F);
    EXPECT_EQ(pattern(), "'\u266B Status Bar Blues'");
    ASSERT_TRUE(tweak::nowPlayingTimer);
    EXPECT_DOUBLE_EQ(tweak::nowPlayingTimer->timeInterval(), 6.0);
    auto toggle = tweak::nowPlayingTimer;
    loop().advance(6.0);
    EXPECT_TRUE(tweak::showArtist);
    loop().advance(1.0);
    EXPECT_EQ(shown(), "\u266B The Quennicks");
    EXPECT_EQ(tweak::nowPlayingTimer, toggle);

    platform::deviceState().mediaPlaying = false;
    loop().advance(1.0);
    EXPECT_EQ(pattern(), "'\u266B Stopped!'");

    writeMain({{"clockformat", 5}, {"nowplaying", false}, {"timeText", "'Mine'"}});
    loop().advance(1.0);
    EXPECT_FALSE(tweak::nowPlayingTimer);
    EXPECT_FALSE(toggle->isValid());
    EXPECT_EQ(pattern(), "'Mine'");
}

TEST_F(TimeTextTest, ModeOutsideTheRangeLeavesSpringBoardsPattern) {
    writeMain({{"clockformat", 6}});
    enter(R);
    EXPECT_EQ(pattern(), "h:mm a");
    enter(F);
    enter(Rf);
    EXPECT_EQ(pattern(), "h:mm a");
    EXPECT_FALSE(tweak::clockRefreshTimer);
}

TEST_F(TimeTextTest, RestartTimerReachesSpringBoardOnlyInModeZero) {
    writeMain({{"clockformat", 4}});
    enter(F);
    auto minuteTimer = platform::statusBarAggregator()->timeItemTimer;
    msgSend<void>(aggregator(), tweak::sel("_restartTimeItemTimer"));
    EXPECT_EQ(platform::statusBarAggregator()->timeItemTimer, minuteTimer);
    EXPECT_TRUE(tweak::clockRefreshTimer);

    writeMain({{"clockformat", 0}});
    msgSend<void>(aggregator(), tweak::sel("_restartTimeItemTimer"));
    EXPECT_NE(platform::statusBarAggregator()->timeItemTimer, minuteTimer);
    EXPECT_FALSE(tweak::clockRefreshTimer);
}

TEST_F(TimeTextTest, FixedTextWhileArmedAppliesWhenTheAnimationEnds) {
    finishLaunching();
    writeMain({{"clockformat", 5}, {"animatedcustomtime", true}, {"timeText", "'Fixed'"}});
    enter(F);
    writeMain({{"clockformat", 5}, {"animatedcustomtime", false}, {"timeText", "'Fixed'"}});
    enter(F);
    EXPECT_TRUE(platform::visibleAlerts().empty());
    EXPECT_FALSE(tweak::clockRefreshTimer);
    loop().advance(10.0 + 0.2 * (9 + 21) + 0.01);  // 'Vantrel' runs out
    EXPECT_FALSE(tweak::isAnimatingText);
    EXPECT_EQ(pattern(), "'Fixed'");
    ASSERT_TRUE(tweak::clockRefreshTimer);
    EXPECT_DOUBLE_EQ(tweak::clockRefreshTimer->timeInterval(), 1.0);
}

}  // namespace
