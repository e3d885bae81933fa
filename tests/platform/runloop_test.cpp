#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/runloop.h"
#include "platform/foundation/sdevent_runloop.h"

using platform::ManualRunLoop;
using platform::Timer;

TEST(ManualRunLoop, TimersFireInOrderAtTheirIntervals) {
    ManualRunLoop loop;
    std::vector<std::string> fired;
    double start = loop.now();
    auto repeating = Timer::scheduled(loop, 1.0, Timer::Repeats::Yes, [&](Timer&) {
        fired.push_back("r@" + std::to_string(static_cast<int>((loop.now() - start) * 10)));
    });
    Timer::scheduled(loop, 2.5, Timer::Repeats::No, [&](Timer&) { fired.push_back("once"); });
    auto cancelled = Timer::scheduled(loop, 0.5, Timer::Repeats::No, [&](Timer&) { fired.push_back("never"); });
    cancelled->invalidate();
    loop.advance(3.0);
    EXPECT_EQ(fired, (std::vector<std::string>{"r@10", "r@20", "once", "r@30"}));
    EXPECT_TRUE(repeating->isValid());
    repeating->invalidate();
    loop.advance(5.0);
    EXPECT_EQ(fired.size(), 4u);
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST(ManualRunLoop, UnkeptTimersStillFireAndCallbacksMayScheduleMore) {
    ManualRunLoop loop;
    int frames = 0;
    std::function<void(Timer&)> frame = [&](Timer& t) {
        EXPECT_EQ(t.userInfo().at("n"), platform::Value(frames));
        if (++frames < 5) Timer::scheduled(loop, 0.2, Timer::Repeats::No, frame, {{"n", frames}});
    };
    Timer::scheduled(loop, 0.2, Timer::Repeats::No, frame, {{"n", 0}});
    loop.advance(0.9);
    EXPECT_EQ(frames, 4);
    loop.advance(0.2);
    EXPECT_EQ(frames, 5);
}

TEST(ManualRunLoop, PerformedWorkRunsAfterTheCurrentCall) {
    ManualRunLoop loop;
    std::vector<int> order;
    loop.perform([&] {
        order.push_back(1);
        loop.perform([&] { order.push_back(3); });
        order.push_back(2);
    });
    EXPECT_TRUE(order.empty());
    loop.runPending();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(RunLoopDeathTest, MainWithoutALoopSaysSoAndStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    platform::RunLoop::setMain(nullptr);
    EXPECT_DEATH(platform::RunLoop::main(), "called before a main run loop was set");
    EXPECT_DEATH(Timer::scheduled(1.0, Timer::Repeats::No, [](Timer&) {}), "called before a main run loop was set");
}

// The device clock set back an hour from a timer's own callback: now() moves with it, and the
// timer (and the reaper) still fire after their intervals rather than an hour later.
TEST(SdEventRunLoop, AClockOffsetMovesNowAndTimersKeepTheirPace) {
    platform::SdEventRunLoop loop;
    ASSERT_TRUE(loop.isValid());
    const double before = loop.now();
    int fired = 0;
    auto timer = platform::Timer::scheduled(loop, 0.02, platform::Timer::Repeats::Yes, [&](platform::Timer&) {
        if (++fired == 1) loop.setClockOffset(-3600);
        if (fired == 3) loop.exit(0);
    });
    auto reaper = platform::Timer::scheduled(loop, 10.0, platform::Timer::Repeats::No, [&](platform::Timer&) { loop.exit(1); });
    EXPECT_EQ(loop.run(), 0) << "the timer stalled when the clock moved";
    EXPECT_NEAR(loop.now() - before, -3600.0, 60.0);
    timer->invalidate();
    reaper->invalidate();
}
