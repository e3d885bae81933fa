#include "tweak/core/startup.h"

#include "platform/foundation/file.h"
#include "platform/foundation/log.h"
#include "shared/settings.h"
#include "tweak/carrier/carrier.h"
#include "tweak/core/dispatcher.h"
#include "tweak/core/state.h"
#include "tweak/info/info.h"
#include "tweak/items/items.h"
#include "tweak/lockscreen/lockscreen.h"
#include "tweak/timetext/timetext.h"

namespace vantrel::tweak {

using runtime::imp;

const std::vector<AddedMethod>& addedMethods() {
    static const std::vector<AddedMethod> rows = {
        {"iconTesterInit", imp(&iconTesterInit)},
        {"iconTesterSetIcon", imp(&iconTesterSetIcon)},
        {"syncStatus", imp(&syncStatus)},
        {"notifySettings:", imp(&notifySettings_)},
        {"carrierChangeAlert", imp(&carrierChangeAlert)},
        {"forceUpdate:", imp(&forceUpdate_)},
        {"refreshTimer", imp(&refreshTimer)},
        {"randomChar:", imp(&randomChar_)},
        {"animateText", imp(&animateText)},
        {"reverseAnimateText", imp(&reverseAnimateText)},
        {"shuffle:array:", imp(&shuffle_array_)},
        {"reShuffle:", imp(&reShuffle_)},
        {"getIPAddress:", imp(&getIPAddress_)},
        {"toggleNowPlayingString", imp(&toggleNowPlayingString)},
        {"nowPlayingString", imp(&nowPlayingString)},
        {"getDataIPAddress:", imp(&getDataIPAddress_)},
        {"getIPAddresses", imp(&getIPAddresses)},
    };
    return rows;
}

const std::vector<ReplacedMethod>& replacedMethods() {
    static const std::vector<ReplacedMethod> rows = {
        {"SBStatusBarStateAggregator", "_setItem:enabled:", imp(&SBStatusBarStateAggregator__setItem_enabled),
         &orig_SBStatusBarStateAggregator__setItem_enabled},
        {"SBStatusBarStateAggregator", "_updateTimeItems", imp(&SBStatusBarStateAggregator__updateTimeItems),
         &orig_SBStatusBarStateAggregator__updateTimeItems},
        {"SBStatusBarStateAggregator", "_restartTimeItemTimer", imp(&SBStatusBarStateAggregator__restartTimeItemTimer),
         &orig_SBStatusBarStateAggregator__restartTimeItemTimer},
        {"SBStatusBarStateAggregator", "_resetTimeItemFormatter",
         imp(&SBStatusBarStateAggregator__resetTimeItemFormatter), &orig_SBStatusBarStateAggregator__resetTimeItemFormatter},
        {"SBStatusBarStateAggregator", "_shouldShowEmergencyOnlyStatus",
         imp(&SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus),
         &orig_SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus},
        {"SBStatusBarStateAggregator", "_sbCarrierNameForOperator:",
         imp(&SBStatusBarStateAggregator__sbCarrierNameForOperator_),
         &orig_SBStatusBarStateAggregator__sbCarrierNameForOperator_},
        {"SBStatusBarStateAggregator", "_displayStringForSIMStatus:",
         imp(&SBStatusBarStateAggregator__displayStringForSIMStatus_),
         &orig_SBStatusBarStateAggregator__displayStringForSIMStatus_},
        {"SBStatusBarStateAggregator", "operatorName:", imp(&SBStatusBarStateAggregator_operatorName_),
         &orig_SBStatusBarStateAggregator_operatorName_},
        {"SBNotificationCenterViewController", "_loadStatusBar", imp(&SBNotificationCenterViewController__loadStatusBar),
         &orig_SBNotificationCenterViewController__loadStatusBar},
        {"SpringBoard", "applicationDidFinishLaunching:", imp(&SpringBoard_applicationDidFinishLaunching_),
         &orig_SpringBoard_applicationDidFinishLaunching_},
        {"SBLockScreenManager", "_finishUIUnlockFromSource:withOptions:",
         imp(&SBLockScreenManager__finishUIUnlockFromSource_withOptions_),
         &orig_SBLockScreenManager__finishUIUnlockFromSource_withOptions_},
        {"SBLockScreenViewController", "shouldShowLockStatusBarTime",
         imp(&SBLockScreenViewController_shouldShowLockStatusBarTime),
         &orig_SBLockScreenViewController_shouldShowLockStatusBarTime},
        {"SBLockScreenViewController", "statusBarStyle", imp(&SBLockScreenViewController_statusBarStyle),
         &orig_SBLockScreenViewController_statusBarStyle},
        {"SBLockScreenViewControllerBase", "activate", imp(&SBLockScreenViewControllerBase_activate),
         &orig_SBLockScreenViewControllerBase_activate},
        {"SBLockScreenViewControllerBase", "prepareForUIUnlock", imp(&SBLockScreenViewControllerBase_prepareForUIUnlock),
         &orig_SBLockScreenViewControllerBase_prepareForUIUnlock},
        {"SBLockScreenViewControllerBase", "deactivate", imp(&SBLockScreenViewControllerBase_deactivate),
         &orig_SBLockScreenViewControllerBase_deactivate},
        {"SBTelephonyManager", "dataConnectionType", imp(&SBTelephonyManager_dataConnectionType),
         &orig_SBTelephonyManager_dataConnectionType},
        {"SBTelephonyManager", "isNetworkTethering", imp(&SBTelephonyManager_isNetworkTethering),
         &orig_SBTelephonyManager_isNetworkTethering},
        {"SBTelephonyManager", "numberOfNetworkTetheredDevices", imp(&SBTelephonyManager_numberOfNetworkTetheredDevices),
         &orig_SBTelephonyManager_numberOfNetworkTetheredDevices},
    };
    return rows;
}

void initializeSettings() {
    NSLog("Vantrel by Quennick Loaded.");
    if (!platform::fileExists(preferencePath(PreferenceFile::Main))) {
        PreferenceLock lock(PreferenceFile::Main);  // the Settings app may be creating it too
        if (!platform::fileExists(preferencePath(PreferenceFile::Main)))
            if (auto written = writePreferences(lock, defaultPreferences(PreferenceFile::Main)); !written)
                NSLog("Main preference file not created: %s", written.failure.c_str());
    }
    prefs = readPreferences(PreferenceFile::Main);
    carrierText = readString(prefs, "carrierText");
    timeText = readString(prefs, "timeText").value_or(kDefaultTimeText);
    reverseText = readString(prefs, "reverseString").value_or(kDefaultReverseText);
    customTime = u"'_Quennick_'";
    prefs.reset();
    isAnimatingText = false;
    syncStatusState = false;
    isReverse = false;
    didPrepareForUnlock = false;
}

void installMethods() {
    // Each class is looked up right before its rows are installed; a missing one is skipped.
    Class aggregator = objc_getClass("SBStatusBarStateAggregator");
    for (const auto& row : addedMethods()) {
        if (!aggregator) {
            NSLog("Vantrel: class SBStatusBarStateAggregator not found; %s not added", row.selector);
            continue;
        }
        if (!class_addMethod(aggregator, sel(row.selector), row.implementation, "v@:"))
            NSLog("Vantrel: SBStatusBarStateAggregator already has %s; not added", row.selector);
    }
    for (const auto& row : replacedMethods()) {
        Class cls = objc_getClass(row.className);
        if (!cls) {
            NSLog("Vantrel: class %s not found; %s not replaced", row.className, row.selector);
            continue;
        }
        if (!class_respondsToSelector(cls, sel(row.selector))) {
            NSLog("Vantrel: %s has no method %s; not replaced", row.className, row.selector);
            continue;
        }
        MSHookMessageEx(cls, sel(row.selector), row.replacement, row.previous);
    }
}

void startUp() {
    initializeSettings();
    installMethods();
}

id sharedAggregator() {
    static Class cls = objc_getClass("SBStatusBarStateAggregator");
    if (!cls) cls = objc_getClass("SBStatusBarStateAggregator");
    return msgSend<id>(classAsObject(cls), sel("sharedInstance"));
}

}  // namespace vantrel::tweak
