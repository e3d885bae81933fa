#include <string>
#include <vector>

#include "tests/tweak/fixture.h"
#include "tweak/carrier/carrier.h"
#include "tweak/core/dispatcher.h"
#include "tweak/items/items.h"
#include "tweak/lockscreen/lockscreen.h"
#include "tweak/timetext/timetext.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

const std::vector<std::string> kAdded = {"iconTesterInit",     "iconTesterSetIcon",      "syncStatus",       "notifySettings:",
                                         "carrierChangeAlert", "forceUpdate:",           "refreshTimer",     "randomChar:",
                                         "animateText",        "reverseAnimateText",     "shuffle:array:",   "reShuffle:",
                                         "getIPAddress:",      "toggleNowPlayingString", "nowPlayingString", "getDataIPAddress:",
                                         "getIPAddresses"};

// A send of one replaced method with value-initialised arguments, through a probe put for that
// one send in the slot installation filled for the method's row: it counts the calls on that
// arrive there, so a replacement calling on through another row's slot counts none.
template <class R, class... A>
struct Probe {
    static inline IMP reached;
    static inline int calls = 0;
    static R through(id self, SEL cmd, A... args) {
        ++calls;
        return callImp<R, A...>(reached, self, cmd, args...);
    }
    static int send(IMP* slot, id receiver, SEL s) {
        reached = *slot;
        calls = 0;
        *slot = runtime::imp(&through);
        msgSend<R, A...>(receiver, s, A{}...);
        *slot = reached;
        return calls;
    }
};

struct Replaced {
    std::string className, selector;
    IMP replacement;
    int (*callsOnThroughItsSlot)(IMP* slot, id receiver, SEL s);
};

template <class R, class... A>
Replaced replaced(const char* className, const char* selector, R (*replacement)(id, SEL, A...)) {
    return {className, selector, runtime::imp(replacement), &Probe<R, A...>::send};
}

const std::vector<Replaced>& expectedReplacements() {
    using namespace tweak;
    const char* aggregator = "SBStatusBarStateAggregator";
    static const std::vector<Replaced> rows = {
        replaced(aggregator, "_setItem:enabled:", &SBStatusBarStateAggregator__setItem_enabled),
        replaced(aggregator, "_updateTimeItems", &SBStatusBarStateAggregator__updateTimeItems),
        replaced(aggregator, "_restartTimeItemTimer", &SBStatusBarStateAggregator__restartTimeItemTimer),
        replaced(aggregator, "_resetTimeItemFormatter", &SBStatusBarStateAggregator__resetTimeItemFormatter),
        replaced(aggregator, "_shouldShowEmergencyOnlyStatus", &SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus),
        replaced(aggregator, "_sbCarrierNameForOperator:", &SBStatusBarStateAggregator__sbCarrierNameForOperator_),
        replaced(aggregator, "_displayStringForSIMStatus:", &SBStatusBarStateAggregator__displayStringForSIMStatus_),
        replaced(aggregator, "operatorName:", &SBStatusBarStateAggregator_operatorName_),
        replaced("SBNotificationCenterViewController", "_loadStatusBar", &SBNotificationCenterViewController__loadStatusBar),
        replaced("SpringBoard", "applicationDidFinishLaunching:", &SpringBoard_applicationDidFinishLaunching_),
        replaced("SBLockScreenManager",
                 "_finishUIUnlockFromSource:withOptions:", &SBLockScreenManager__finishUIUnlockFromSource_withOptions_),
        replaced("SBLockScreenViewController", "shouldShowLockStatusBarTime",
                 &SBLockScreenViewController_shouldShowLockStatusBarTime),
        replaced("SBLockScreenViewController", "statusBarStyle", &SBLockScreenViewController_statusBarStyle),
        replaced("SBLockScreenViewControllerBase", "activate", &SBLockScreenViewControllerBase_activate),
        replaced("SBLockScreenViewControllerBase", "prepareForUIUnlock", &SBLockScreenViewControllerBase_prepareForUIUnlock),
        replaced("SBLockScreenViewControllerBase", "deactivate", &SBLockScreenViewControllerBase_deactivate),
        replaced("SBTelephonyManager", "dataConnectionType", &SBTelephonyManager_dataConnectionType),
        replaced("SBTelephonyManager", "isNetworkTethering", &SBTelephonyManager_isNetworkTethering),
        replaced("SBTelephonyManager", "numberOfNetworkTetheredDevices", &SBTelephonyManager_numberOfNetworkTetheredDevices),
    };
    return rows;
}

id instanceOf(const std::string& className) {
    if (className.starts_with("SBLockScreenViewController")) return platform::lockScreenViewController();
    if (className == "SBNotificationCenterViewController") return platform::notificationCenterViewController();
    return platform::sharedInstance(className.c_str());
}

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

// Each replaced method, in table order, answers with its own replacement, and that replacement
// calls on through the slot filled with what its own class and selector did before.
TEST_F(InstallationTest, ReplacedMethodsAreTheWholeTableInOrder) {
    const auto& expected = expectedReplacements();
    const auto& table = tweak::replacedMethods();
    ASSERT_EQ(table.size(), expected.size());
    for (size_t i = 0; i < table.size(); ++i) {
        const auto& row = table[i];
        const Replaced& want = expected[i];
        SCOPED_TRACE(want.className + " " + want.selector);
        ASSERT_EQ(row.className, want.className);
        ASSERT_EQ(row.selector, want.selector);
        SEL s = sel_registerName(row.selector);
        Class cls = objc_getClass(row.className);
        EXPECT_EQ(row.replacement.fn, want.replacement.fn);
        EXPECT_EQ(class_getMethodImplementation(cls, s).fn, want.replacement.fn);

        ASSERT_TRUE(*row.previous);
        IMP previous = runtime::resolve(*row.previous, s);
        EXPECT_TRUE(previous.fn);
        EXPECT_NE(previous.fn, want.replacement.fn);
        EXPECT_EQ(*previous.signature, *want.replacement.signature);

        id receiver = instanceOf(want.className);
        ASSERT_TRUE(receiver);
        EXPECT_EQ(want.callsOnThroughItsSlot(row.previous, receiver, s), 1);
    }
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
