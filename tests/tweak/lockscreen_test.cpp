#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/foundation/file.h"
#include "tests/tweak/fixture.h"
#include "tests/tweak/recording.h"
#include "tweak/lockscreen/lockscreen.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

class LockScreenTest : public TweakTest {
protected:
    void SetUp() override {
        TweakTest::SetUp();
        recordHook<&tweak::SBLockScreenViewController_shouldShowLockStatusBarTime>();
        recordHook<&tweak::SBLockScreenViewController_statusBarStyle>();
        recordHook<&tweak::SBLockScreenViewControllerBase_activate>();
        recordHook<&tweak::SBLockScreenViewControllerBase_prepareForUIUnlock>();
        recordHook<&tweak::SBLockScreenViewControllerBase_deactivate>();
        recordHook<&tweak::SBLockScreenManager__finishUIUnlockFromSource_withOptions_>();
        recordHook<&tweak::SBNotificationCenterViewController__loadStatusBar>();
        clearPreviousCalls();
        watchPostedCodes(center(), loop());
    }

    static Dictionary mainWith(std::initializer_list<std::pair<const std::string, Value>> changes) {
        Dictionary d = defaultPreferences(PreferenceFile::Main);
        d["intromessageshown"] = true;  // keeps the notice out of cases about other things
        for (const auto& [k, v] : changes) d[k] = v;
        return d;
    }
    static int posted99() { return static_cast<int>(std::count(postedCodes().begin(), postedCodes().end(), 99)); }
    static size_t alertCount() { return platform::visibleAlerts().size(); }
};

// ---- Time and style of the lock screen's status bar

struct LockStatusBarRow {
    const char* key;
    const char* selector;
    IMP* slot;
    int onAnswer;
};
void PrintTo(const LockStatusBarRow& row, std::ostream* os) { *os << row.selector; }

class LockStatusBarTest : public LockScreenTest, public ::testing::WithParamInterface<LockStatusBarRow> {
protected:
    int ask() {
        id vc = platform::lockScreenViewController();
        SEL s = sel_registerName(GetParam().selector);
        return std::string(GetParam().selector) == "statusBarStyle" ? msgSend<int>(vc, s) : msgSend<bool>(vc, s);
    }
};

TEST_P(LockStatusBarTest, OnAnswersItselfOffCallsOn) {
    const auto& row = GetParam();
    writeMain(mainWith({{row.key, true}}));
    EXPECT_EQ(ask(), row.onAnswer);
    EXPECT_EQ(previousCalls(row.slot), 0);

    for (bool fileThere : {true, false}) {
        if (fileThere)
            writeMain(mainWith({{row.key, false}}));
        else
            std::remove(preferencePath(PreferenceFile::Main).c_str());
        clearPreviousCalls();
        EXPECT_EQ(ask(), 0);  // the simulated lock screen: no time, style 0
        EXPECT_EQ(previousCalls(row.slot), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Methods, LockStatusBarTest,
    ::testing::Values(LockStatusBarRow{"lockclock", "shouldShowLockStatusBarTime",
                                       slotOf<&tweak::SBLockScreenViewController_shouldShowLockStatusBarTime>, 1},
                      LockStatusBarRow{"samelockstatusbar", "statusBarStyle",
                                       slotOf<&tweak::SBLockScreenViewController_statusBarStyle>, 1}),
    [](const auto& info) { return std::string(info.param.key); });

TEST_F(LockScreenTest, LockScreenStatusBarAsSpringBoardDrawsIt) {
    writeMain(mainWith({{"lockclock", true}, {"samelockstatusbar", true}}));
    platform::lockDevice();
    auto bar = platform::lockScreenStatusBar();
    EXPECT_TRUE(bar.showsTime);
    EXPECT_EQ(bar.style, 1);
}

// ---- The lock-screen hide-all, one row of the state table per case

enum class Step { Lock, Unlock, Dismiss };

struct StateRow {
    const char* name;
    bool hideallls;
    bool preparedBefore;
    bool hiddenBefore;
    Step step;
    bool hiddenAfter;
    bool preparedAfter;
    int posts;
};
void PrintTo(const StateRow& row, std::ostream* os) { *os << row.name; }

class LockStateTest : public LockScreenTest, public ::testing::WithParamInterface<StateRow> {};

TEST_P(LockStateTest, FollowsTheTable) {
    const auto& row = GetParam();
    writeMain(mainWith({{"hideallls", row.hideallls}}));
    tweak::didPrepareForUnlock = row.preparedBefore;
    tweak::LSHideIcons = row.hiddenBefore;
    switch (row.step) {
    case Step::Lock: platform::lockDevice(); break;
    case Step::Unlock: platform::unlockDevice(); break;
    case Step::Dismiss: platform::dismissLockScreen(); break;
    }
    // The flag is in place before the post is delivered, and SpringBoard's own step ran.
    EXPECT_EQ(tweak::LSHideIcons, row.hiddenAfter);
    EXPECT_EQ(tweak::didPrepareForUnlock, row.preparedAfter);
    EXPECT_TRUE(postedCodes().empty());
    loop().runPending();
    EXPECT_EQ(posted99(), row.posts);
    EXPECT_EQ(postedCodes().size(), static_cast<size_t>(row.posts));
    EXPECT_EQ(platform::lockScreenViewController()->active, row.step == Step::Lock);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LockStateTest,
    ::testing::Values(StateRow{"ActivateHides", true, false, false, Step::Lock, true, false, 1},
                      StateRow{"ActivateAfterAnUnlockHides", true, true, false, Step::Lock, true, true, 1},
                      StateRow{"ActivateWithoutSwitchLeavesFlagOff", false, false, false, Step::Lock, false, false, 0},
                      StateRow{"ActivateWithoutSwitchLeavesFlagOn", false, false, true, Step::Lock, true, false, 0},
                      // prepareForUIUnlock clears and posts; the deactivate that follows it does nothing.
                      StateRow{"UnlockShows", true, false, true, Step::Unlock, false, true, 1},
                      StateRow{"UnlockWithoutSwitchOnlyMarksPrepared", false, false, true, Step::Unlock, true, true, 0},
                      StateRow{"DeactivateBeforeAnyUnlockShows", true, false, true, Step::Dismiss, false, false, 1},
                      StateRow{"DeactivateAfterAnUnlockDoesNothing", true, true, true, Step::Dismiss, true, true, 0},
                      StateRow{"DeactivateWithoutSwitchDoesNothing", false, false, true, Step::Dismiss, true, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LockScreenTest, PreparedUnlockIsNeverForgotten) {
    writeMain(mainWith({{"hideallls", true}}));
    tweak::initializeSettings();
    EXPECT_FALSE(tweak::LSHideIcons);
    EXPECT_FALSE(tweak::didPrepareForUnlock);
    for (int round = 0; round < 3; ++round) {
        platform::lockDevice();
        EXPECT_TRUE(tweak::LSHideIcons);
        platform::unlockDevice();
        EXPECT_FALSE(tweak::LSHideIcons);
        EXPECT_TRUE(tweak::didPrepareForUnlock);
    }
    // Locked again, then dismissed without an unlock: the hide-all stays.
    platform::lockDevice();
    platform::dismissLockScreen();
    EXPECT_TRUE(tweak::LSHideIcons);
    loop().runPending();
    EXPECT_EQ(posted99(), 7);
}

// Every SpringBoard step is called on, whatever the settings.
TEST_F(LockScreenTest, SequencesCallSpringBoardInDeviceOrder) {
    for (bool hide : {false, true}) {
        writeMain(mainWith({{"hideallls", hide}}));
        clearPreviousCalls();
        platform::lockDevice();
        platform::unlockDevice();
        platform::lockDevice();
        platform::dismissLockScreen();
        const IMP* activate = slotOf<&tweak::SBLockScreenViewControllerBase_activate>;
        const IMP* prepare = slotOf<&tweak::SBLockScreenViewControllerBase_prepareForUIUnlock>;
        const IMP* deactivate = slotOf<&tweak::SBLockScreenViewControllerBase_deactivate>;
        const IMP* finish = slotOf<&tweak::SBLockScreenManager__finishUIUnlockFromSource_withOptions_>;
        EXPECT_EQ(previousCallLog(), (std::vector<const IMP*>{activate, prepare, deactivate, finish, activate, deactivate}));
    }
}

// The whole road: the lock screen posts 99, the dispatcher re-evaluates every item.
TEST_F(LockScreenTest, StatusBarEmptiesWhileLockedAndRefillsOnUnlock) {
    writeMain(mainWith({{"hideallls", true}, {"wifi", true}}));
    platform::finishLaunching();
    loop().runPending();
    const auto unlocked = platform::statusBarAggregator()->itemEnabled;
    ASSERT_FALSE(unlocked[5]);  // hidden by its own key
    ASSERT_TRUE(unlocked[7]);

    platform::lockDevice();
    loop().runPending();
    for (int i = 0; i < platform::kStatusBarItemCount; ++i)
        EXPECT_FALSE(platform::statusBarAggregator()->itemEnabled[static_cast<size_t>(i)]) << "item " << i;

    platform::unlockDevice();
    loop().runPending();
    EXPECT_EQ(platform::statusBarAggregator()->itemEnabled, unlocked);
}

TEST_F(LockScreenTest, WithoutTheSwitchLockingLeavesTheStatusBarAlone) {
    writeMain(mainWith({{"hideallls", false}}));
    platform::finishLaunching();
    loop().runPending();
    const auto before = platform::statusBarAggregator()->itemEnabled;
    postedCodes().clear();
    platform::lockDevice();
    loop().runPending();
    EXPECT_EQ(platform::statusBarAggregator()->itemEnabled, before);
    platform::unlockDevice();
    loop().runPending();
    EXPECT_EQ(platform::statusBarAggregator()->itemEnabled, before);
    EXPECT_TRUE(postedCodes().empty());
}

// ---- The first-run notice

void expectNotice(const std::shared_ptr<platform::UIAlertView>& alert) {
    EXPECT_EQ(alert->title(), "Thank you for purchasing\nVantrel");
    EXPECT_EQ(alert->message(),
              "You can contact me with any feedback via my website, which is shown in the settings panel for "
              "Vantrel\n\nIf you did not purchase this from Cydia =( but are finding it useful,\n Please consider "
              "donating!");
    EXPECT_EQ(alert->buttonTitles(), std::vector<std::string>{"OK"});
    EXPECT_EQ(alert->delegate(), nullptr);
}

TEST_F(LockScreenTest, NoticeShownOnceAfterTheFirstUnlockKeepingEveryKey) {
    Dictionary before = defaultPreferences(PreferenceFile::Main);
    before["clockformat"] = 3;
    before["carrierText"] = "Mine";
    before["enabled"] = Value(platform::Array{Value("anything")});
    writeMain(before);

    platform::lockDevice();
    EXPECT_EQ(alertCount(), 0u);
    platform::unlockDevice();
    ASSERT_EQ(alertCount(), 1u);
    expectNotice(platform::visibleAlerts().front());

    Dictionary expected = before;
    expected["intromessageshown"] = true;
    EXPECT_EQ(readPreferences(PreferenceFile::Main), expected);
    EXPECT_TRUE(postedCodes().empty());  // the flag is announced to nobody

    platform::visibleAlerts().front()->dismissWithClickedButtonIndex(0);
    platform::lockDevice();
    platform::unlockDevice();
    EXPECT_EQ(alertCount(), 0u);
    EXPECT_EQ(readPreferences(PreferenceFile::Main), expected);
}

TEST_F(LockScreenTest, NoticeDueWhileTheFlagIsFalse) {
    Dictionary before = defaultPreferences(PreferenceFile::Main);
    before["intromessageshown"] = false;
    writeMain(before);
    platform::unlockDevice();
    ASSERT_EQ(alertCount(), 1u);
    expectNotice(platform::visibleAlerts().front());
    EXPECT_TRUE(readBool(readPreferences(PreferenceFile::Main), "intromessageshown"));
}

TEST_F(LockScreenTest, NoticeOnAMissingOrUnreadableFileWritesTheDefaultsWithTheFlag) {
    Dictionary expected = defaultPreferences(PreferenceFile::Main);
    expected["intromessageshown"] = true;
    const std::string path = preferencePath(PreferenceFile::Main);
    for (bool unreadable : {false, true}) {
        SCOPED_TRACE(unreadable ? "unreadable" : "missing");
        platform::clearAlerts();
        std::remove(path.c_str());
        if (unreadable) platform::writeFileAtomically(path, std::vector<uint8_t>{'b', 'p', 'l', 'i', 's', 't'});
        platform::unlockDevice();
        EXPECT_EQ(alertCount(), 1u);
        EXPECT_EQ(readPreferences(PreferenceFile::Main), expected);
    }
}

// ---- The Notification Centre's own status bar

TEST_F(LockScreenTest, NotificationCentreStatusBarFollowsNcstatus) {
    const IMP* slot = slotOf<&tweak::SBNotificationCenterViewController__loadStatusBar>;
    writeMain(mainWith({{"ncstatus", true}}));
    platform::openNotificationCenter();
    EXPECT_TRUE(platform::notificationCenterViewController()->open);
    EXPECT_FALSE(platform::notificationCenterViewController()->statusBarLoaded);
    EXPECT_EQ(previousCalls(slot), 0);
    platform::closeNotificationCenter();

    const std::string path = preferencePath(PreferenceFile::Main);
    struct {
        const char* name;
        std::function<void()> apply;
    } offs[] = {
        {"false",
         [&] {
             writeMain(mainWith({{"ncstatus", false}}));
         }},
        {"absent",
         [&] {
             writeMain({{"hideall", false}});
         }},
        {"missing file", [&] { std::remove(path.c_str()); }},
    };
    for (const auto& off : offs) {
        SCOPED_TRACE(off.name);
        off.apply();
        clearPreviousCalls();
        platform::openNotificationCenter();
        EXPECT_TRUE(platform::notificationCenterViewController()->statusBarLoaded);
        EXPECT_EQ(previousCalls(slot), 1);
        platform::closeNotificationCenter();
    }
    EXPECT_TRUE(postedCodes().empty());
}

}  // namespace
