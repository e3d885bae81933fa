// What the clock and animation tests share: a fixture that first lets any animation armed by an
// earlier case in the same process run out (timers cannot be taken back), and small readers.
#pragma once

#include "platform/uikit/alert.h"
#include "tests/tweak/fixture.h"
#include "tests/tweak/items_recording.h"
#include "tweak/core/dispatcher.h"
#include "tweak/timetext/timetext.h"

namespace vantrel::test {

class TimeTextTest : public TweakTest {
protected:
    void SetUp() override {
        TweakTest::SetUp();
        loop().advance(60.0);  // no preference file yet: whatever was armed ends in mode 0
        tweak::resetState();
        tweak::setRandomSource(nullptr);
        platform::deviceState() = platform::DeviceState{};
        platform::clearAlerts();
        installRecorder();
        recordNotifications();
        setPattern("'before'");
    }
    void TearDown() override {
        removeRecorder();
        TweakTest::TearDown();
    }

    static platform::DateFormatter& formatter() { return *platform::statusBarAggregator()->_timeItemDateFormatter; }
    static std::string pattern() { return formatter().dateFormatUtf8(); }
    static void setPattern(const std::string& p) { formatter().setDateFormat(p); }
    static std::string shown() { return platform::statusBarAggregator()->timeItemText; }

    static void enter(tweak::ClockEntry entry) {
        switch (entry) {
        case tweak::ClockEntry::Reset: msgSend<void>(aggregator(), tweak::sel("_resetTimeItemFormatter")); break;
        case tweak::ClockEntry::Forced: msgSend<void>(aggregator(), tweak::sel("forceUpdate:"), 26); break;
        case tweak::ClockEntry::Refresh: msgSend<void>(aggregator(), tweak::sel("refreshTimer")); break;
        }
    }

    // The replacement of applicationDidFinishLaunching: subscribes the dispatcher (once per process).
    static void finishLaunching() {
        id app = platform::sharedInstance("SpringBoard");
        msgSend<void>(app, tweak::sel("applicationDidFinishLaunching:"), app);
    }

    static std::vector<std::string> alertTitles() {
        std::vector<std::string> titles;
        for (const auto& a : platform::visibleAlerts()) titles.push_back(a->title());
        return titles;
    }

    static std::vector<int64_t> animationFlags() {
        std::vector<int64_t> flags;
        for (const auto& n : postedNotifications())
            if (n.name == kAnimationChangedNotification) flags.push_back(readInteger(n.userInfo, kAnimationFlagKey));
        return flags;
    }
};

}  // namespace vantrel::test
