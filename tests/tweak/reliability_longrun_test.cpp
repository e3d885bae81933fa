// A day of simulated time in the clock modes that keep timers running: never more than one
// refresh timer or now-playing timer alive at once, no timer pile-up, the clock always showing
// something. Leaks are LeakSanitizer's to find when the suite runs sanitized.
#include <algorithm>
#include <memory>
#include <vector>

#include "tests/tweak/timetext_support.h"

namespace vantrel::test {
namespace {

struct Day {
    const char* name;
    Dictionary prefs;
    bool mediaFlips;  // the track stops and starts again every hour
};

class LongRun : public TimeTextTest, public ::testing::WithParamInterface<Day> {
protected:
    // Every timer the tweak has held in one of its references; at most one may still be valid.
    struct Watched {
        std::vector<std::weak_ptr<platform::Timer>> seen;
        void note(const std::shared_ptr<platform::Timer>& t) {
            if (t && std::none_of(seen.begin(), seen.end(), [&](auto& w) { return w.lock() == t; })) seen.push_back(t);
            std::erase_if(seen, [](auto& w) { return w.expired(); });
        }
        size_t valid() const {
            return std::count_if(seen.begin(), seen.end(), [](auto& w) {
                auto t = w.lock();
                return t && t->isValid();
            });
        }
    };
};

TEST_P(LongRun, TwentyFourHoursKeepOneTimerOfEachKind) {
    alarm(110);  // reaper, below ctest's limit
    finishLaunching();
    writeMain(GetParam().prefs);
    enter(tweak::ClockEntry::Forced);
    loop().runPending();

    Watched refresh, nowPlaying;
    size_t firstHourMost = 0, most = 0;
    bool sawText = false;
    const int day = 24 * 60 * 60;
    for (int second = 1; second <= day; ++second) {
        loop().advance(1.0);
        refresh.note(tweak::clockRefreshTimer);
        nowPlaying.note(tweak::nowPlayingTimer);
        ASSERT_LE(refresh.valid(), 1u) << "second " << second;
        ASSERT_LE(nowPlaying.valid(), 1u) << "second " << second;
        size_t timers = loop().timerCount();
        if (second <= 3600) firstHourMost = std::max(firstHourMost, timers);
        most = std::max(most, timers);
        if (GetParam().mediaFlips && second % 3600 == 0)
            platform::deviceState().mediaPlaying = !platform::deviceState().mediaPlaying;
        // An animation's first frame is empty; over ten minutes some text must show.
        sawText = sawText || !shown().empty();
        if (second % 600 == 0) {
            ASSERT_TRUE(sawText) << "nothing shown in the ten minutes before second " << second;
            sawText = false;
        }
    }
    EXPECT_LE(most, firstHourMost) << "timers grew after the first hour";
    EXPECT_LE(most, 6u);
    EXPECT_TRUE(platform::visibleAlerts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, LongRun,
    ::testing::Values(Day{"ModeFiveAnimated",
                          {{"clockformat", 5},
                           {"animatedcustomtime", true},
                           {"timeText", "'Time \xF0\x9F\x98\x80'"},
                           {"reverseString", "'%@ %n'"}},
                          false},
                      Day{"ModeFiveFixedNowPlaying", {{"clockformat", 5}, {"nowplaying", true}, {"timeText", "'Fixed'"}}, true},
                      Day{"ModeFour", {{"clockformat", 4}, {"1224", true}}, false},
                      Day{"ModeFiveHostileText", {{"clockformat", 5}, {"timeText", "%@%n%s 'unpaired"}}, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::test
