#include "tweak/lockscreen/lockscreen.h"

#include "platform/foundation/log.h"
#include "platform/uikit/alert.h"
#include "shared/settings.h"
#include "tweak/core/hooks.h"
#include "tweak/core/state.h"

namespace vantrel::tweak {

namespace {

// The flag is set before the post so the re-evaluation that code 99 brings already sees it.
void setLockScreenHideAll(bool hide) {
    LSHideIcons = hide;
    postSettingsChanged(ItemCode::AllItems);
}

constexpr int kSameLockStatusBarStyle = 1;

}  // namespace

// ---- Notification Centre

void SBNotificationCenterViewController__loadStatusBar(id self, SEL _cmd) {
    if (mainSwitch(MainKey::ncstatus)) return;
    callPrevious<&SBNotificationCenterViewController__loadStatusBar>(self, _cmd);
}

// ---- Lock screen status bar

bool SBLockScreenViewController_shouldShowLockStatusBarTime(id self, SEL _cmd) {
    if (mainSwitch(MainKey::lockclock)) return true;
    return callPrevious<&SBLockScreenViewController_shouldShowLockStatusBarTime>(self, _cmd);
}

int SBLockScreenViewController_statusBarStyle(id self, SEL _cmd) {
    if (mainSwitch(MainKey::samelockstatusbar)) return kSameLockStatusBarStyle;
    return callPrevious<&SBLockScreenViewController_statusBarStyle>(self, _cmd);
}

// ---- Lock-screen hide-all

void SBLockScreenViewControllerBase_activate(id self, SEL _cmd) {
    if (mainSwitch(MainKey::hideallls)) setLockScreenHideAll(true);
    callPrevious<&SBLockScreenViewControllerBase_activate>(self, _cmd);
}

void SBLockScreenViewControllerBase_prepareForUIUnlock(id self, SEL _cmd) {
    // Never cleared while SpringBoard runs: from the first prepared unlock on, only this
    // method lifts the hide-all.
    didPrepareForUnlock = true;
    if (mainSwitch(MainKey::hideallls)) setLockScreenHideAll(false);
    callPrevious<&SBLockScreenViewControllerBase_prepareForUIUnlock>(self, _cmd);
}

void SBLockScreenViewControllerBase_deactivate(id self, SEL _cmd) {
    if (!didPrepareForUnlock && mainSwitch(MainKey::hideallls)) setLockScreenHideAll(false);
    callPrevious<&SBLockScreenViewControllerBase_deactivate>(self, _cmd);
}

// ---- Unlock completed: the first-run notice

void SBLockScreenManager__finishUIUnlockFromSource_withOptions_(id self, SEL _cmd, int source, id options) {
    callPrevious<&SBLockScreenManager__finishUIUnlockFromSource_withOptions_>(self, _cmd, source, options);
    if (mainSwitch(MainKey::intromessageshown)) return;

    platform::UIAlertView::create(kFirstRunNoticeTitle, kFirstRunNoticeMessage, nullptr, "OK")->show();

    // Stored at once, not when the user taps OK; every other key of the file is kept.
    auto written =
        updatePreferences(PreferenceFile::Main, [](Dictionary& update) { update[keyName(MainKey::intromessageshown)] = true; });
    if (!written) NSLog("First-run notice not recorded, it comes again: %s", written.failure.c_str());
}

// ---- What start-up installs

const HookTable& notificationCentreHooks() {
    static const HookTable table{
        {},
        {Hook<&SBNotificationCenterViewController__loadStatusBar>::replacing("SBNotificationCenterViewController",
                                                                             "_loadStatusBar")},
    };
    return table;
}

const HookTable& lockScreenHooks() {
    static const HookTable table{
        {},
        {
            Hook<&SBLockScreenManager__finishUIUnlockFromSource_withOptions_>::replacing(
                "SBLockScreenManager", "_finishUIUnlockFromSource:withOptions:"),
            Hook<&SBLockScreenViewController_shouldShowLockStatusBarTime>::replacing("SBLockScreenViewController",
                                                                                     "shouldShowLockStatusBarTime"),
            Hook<&SBLockScreenViewController_statusBarStyle>::replacing("SBLockScreenViewController", "statusBarStyle"),
            Hook<&SBLockScreenViewControllerBase_activate>::replacing("SBLockScreenViewControllerBase", "activate"),
            Hook<&SBLockScreenViewControllerBase_prepareForUIUnlock>::replacing("SBLockScreenViewControllerBase",
                                                                                "prepareForUIUnlock"),
            Hook<&SBLockScreenViewControllerBase_deactivate>::replacing("SBLockScreenViewControllerBase", "deactivate"),
        },
    };
    return table;
}

}  // namespace vantrel::tweak
