#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/tweak/fixture.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

const std::vector<std::string> kAdded = {
    "iconTesterInit", "iconTesterSetIcon", "syncStatus", "notifySettings:", "carrierChangeAlert", "forceUpdate:",
    "refreshTimer", "randomChar:", "animateText", "reverseAnimateText", "shuffle:array:", "reShuffle:",
    "getIPAddress:", "toggleNowPlayingString", "nowPlayingString", "getDataIPAddress:", "getIPAddresses"};

const std::vector<std::pair<std::string, std::string>> kReplaced = {
    {"SBStatusBarStateAggregator", "_setItem:enabled:"},
    {"SBStatusBarStateAggregator", "_updateTimeItems"},
    {"SBStatusBarStateAggregator", "_restartTimeItemTimer"},
    {"SBStatusBarStateAggregator", "_resetTimeItemFormatter"},
    {"SBStatusBarStateAggregator", "_shouldShowEmergencyOnlyStatus"},
    {"SBStatusBarStateAggregator", "_sbCarrierNameForOperator:"},
    {"SBStatusBarStateAggregator", "_displayStringForSIMStatus:"},
    {"SBStatusBarStateAggregator", "operatorName:"},
    {"SBNotificationCenterViewController", "_loadStatusBar"},
    {"SpringBoard", "applicationDidFinishLaunching:"},
    {"SBLockScreenManager", "_finishUIUnlockFromSource:withOptions:"},
    {"SBLockScreenViewController", "shouldShowLockStatusBarTime"},
    {"SBLockScreenViewController", "statusBarStyle"},
    {"SBLockScreenViewControllerBase", "activate"},
    {"SBLockScreenViewControllerBase", "prepareForUIUnlock"},
    {"SBLockScreenViewControllerBase", "deactivate"},
    {"SBTelephonyManager", "dataConnectionType"},
    {"SBTelephonyManager", "isNetworkTethering"},
    {"SBTelephonyManager", "numberOfNetworkTetheredDevices"}};

class InstallationTest : public TweakTest {};

TEST_F(InstallationTest, AddedMethodsAreTheWholeTableInOrder) {
    std::vector<std::string> table;
    for (const auto& row : tweak::addedMethods()) table.push_back(row.selector);
    ASSERT_EQ(table, kAdded);

    // Added last, after SpringBoard's own methods, each with "v@:" and answering with the tweak's code.
    Class aggregator = objc_getClass("SBStatusBarStateAggregator");
    auto methods = class_copyMethodList(aggregator);
    ASSERT_GE(methods.size(), kAdded.size());
    for (size_t i = 0; i < kAdded.size(); ++i) {
        const auto& method = methods[methods.size() - kAdded.size() + i];
        EXPECT_EQ(method.selector, kAdded[i]);
        EXPECT_EQ(method.types, "v@:") << kAdded[i];
        EXPECT_EQ(class_getMethodImplementation(aggregator, sel_registerName(kAdded[i].c_str())).fn,
                  tweak::addedMethods()[i].implementation.fn)
            << kAdded[i];
    }
}

TEST_F(InstallationTest, ReplacedMethodsAreTheWholeTableInOrder) {
    std::vector<std::pair<std::string, std::string>> table;
    for (const auto& row : tweak::replacedMethods()) table.emplace_back(row.className, row.selector);
    ASSERT_EQ(table, kReplaced);

    std::set<void (*)()> replacements;
    std::set<IMP*> slots;
    for (const auto& row : tweak::replacedMethods()) {
        SCOPED_TRACE(std::string(row.className) + " " + row.selector);
        SEL s = sel_registerName(row.selector);
        Class cls = objc_getClass(row.className);
        replacements.insert(row.replacement.fn);
        slots.insert(row.previous);
        // A send reaches the replacement, and the slot reaches SpringBoard's own method.
        EXPECT_EQ(class_getMethodImplementation(cls, s).fn, row.replacement.fn);
        ASSERT_TRUE(*row.previous);
        IMP previous = runtime::resolve(*row.previous, s);
        EXPECT_TRUE(previous.fn);
        EXPECT_NE(previous.fn, row.replacement.fn);
        EXPECT_EQ(*previous.signature, *row.replacement.signature);
    }
    EXPECT_EQ(replacements.size(), kReplaced.size());
    EXPECT_EQ(slots.size(), kReplaced.size());
}

// Hooked on the base class, the lock screen transitions reach the subclass SpringBoard uses,
// and the base class keeps its place in the chain.
TEST_F(InstallationTest, BaseClassReplacementsReachTheSubclass) {
    Class base = objc_getClass("SBLockScreenViewControllerBase");
    Class sub = objc_getClass("SBLockScreenViewController");
    ASSERT_EQ(class_getSuperclass(sub), base);
    for (const auto& row : tweak::replacedMethods()) {
        if (std::string(row.className) != "SBLockScreenViewControllerBase") continue;
        SEL s = sel_registerName(row.selector);
        EXPECT_EQ(class_getMethodImplementation(sub, s).fn, row.replacement.fn) << row.selector;
    }
}

}  // namespace
