// A SpringBoard with the tweak installed, on a manual clock and an in-process notification
// centre, in a temporary home. Installation runs once per process (hooks cannot be undone);
// every case starts with fresh tweak state, fresh preference files and no alerts.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/foundation/home.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/runloop.h"
#include "platform/device/device_state.h"
#include "platform/springboard/springboard.h"
#include "platform/uikit/alert.h"
#include "shared/settings.h"
#include "tests/scratch.h"
#include "tweak/core/startup.h"
#include "tweak/core/state.h"

namespace vantrel::test {

class TweakTest : public ::testing::Test {
protected:
    static platform::ManualRunLoop& loop() {
        static platform::ManualRunLoop l;
        return l;
    }
    static platform::InProcessNotificationCenter& center() {
        static platform::InProcessNotificationCenter c;
        return c;
    }

    void SetUp() override {
        home_ = vantrel::test::scratchFolder("vantrel-tweak");
        platform::setHomeDirectory(home_);
        platform::RunLoop::setMain(&loop());
        platform::NotificationCenter::setDistributed(&center());
        platform::registerSpringBoardClasses();
        static bool installed = [] {
            tweak::installMethods();
            return true;
        }();
        (void)installed;
        tweak::resetState();
        platform::deviceState() = platform::DeviceState{};
        platform::clearAlerts();
        loop().runPending();
    }

    void TearDown() override {
        loop().runPending();
        std::system(("rm -rf '" + home_ + "'").c_str());
    }

    void writeMain(const Dictionary& d) { writePreferences(PreferenceFile::Main, d); }
    void writeTester(const Dictionary& d) { writePreferences(PreferenceFile::IconTester, d); }
    void writeFaker(const Dictionary& d) { writePreferences(PreferenceFile::DataFaker, d); }
    static id aggregator() { return platform::statusBarAggregator(); }

    std::string home_;
};

}  // namespace vantrel::test
