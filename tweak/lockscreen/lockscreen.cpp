#include "tweak/lockscreen/lockscreen.h"

#include "platform/foundation/log.h"
#include "platform/uikit/alert.h"
#include "shared/settings.h"
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

IMP orig_SBNotificationCenterViewController__loadStatusBar;
void SBNotificationCenterViewController__loadStatusBar(id self, SEL _cmd) {
    if (mainSwitch("ncstatus")) return;
    callImp<void>(orig_SBNotificationCenterViewController__loadStatusBar, self, _cmd);
}

// ---- Lock screen status bar

IMP orig_SBLockScreenViewController_shouldShowLockStatusBarTime;
bool SBLockScreenViewController_shouldShowLockStatusBarTime(id self, SEL _cmd) {
    if (mainSwitch("lockclock")) return true;
    return callImp<bool>(orig_SBLockScreenViewController_shouldShowLockStatusBarTime, self, _cmd);
}

IMP orig_SBLockScreenViewController_statusBarStyle;
int SBLockScreenViewController_statusBarStyle(id self, SEL _cmd) {
    if (mainSwitch("samelockstatusbar")) return kSameLockStatusBarStyle;
    return callImp<int>(orig_SBLockScreenViewController_statusBarStyle, self, _cmd);
}

// ---- Lock-screen hide-all

IMP orig_SBLockScreenViewControllerBase_activate;
void SBLockScreenViewControllerBase_activate(id self, SEL _cmd) {
    if (mainSwitch("hideallls")) setLockScreenHideAll(true);
    callImp<void>(orig_SBLockScreenViewControllerBase_activate, self, _cmd);
}

IMP orig_SBLockScreenViewControllerBase_prepareForUIUnlock;
void SBLockScreenViewControllerBase_prepareForUIUnlock(id self, SEL _cmd) {
    // Never cleared while SpringBoard runs: from the first prepared unlock on, only this
    // method lifts the hide-all.
    didPrepareForUnlock = true;
    if (mainSwitch("hideallls")) setLockScreenHideAll(false);
    callImp<void>(orig_SBLockScreenViewControllerBase_prepareForUIUnlock, self, _cmd);
}

IMP orig_SBLockScreenViewControllerBase_deactivate;
void SBLockScreenViewControllerBase_deactivate(id self, SEL _cmd) {
    if (!didPrepareForUnlock && mainSwitch("hideallls")) setLockScreenHideAll(false);
    callImp<void>(orig_SBLockScreenViewControllerBase_deactivate, self, _cmd);
}

// ---- Unlock completed: the first-run notice

IMP orig_SBLockScreenManager__finishUIUnlockFromSource_withOptions_;
void SBLockScreenManager__finishUIUnlockFromSource_withOptions_(id self, SEL _cmd, int source, id options) {
    callImp<void>(orig_SBLockScreenManager__finishUIUnlockFromSource_withOptions_, self, _cmd, source, options);
    if (mainSwitch("intromessageshown")) return;

    platform::UIAlertView::create(kFirstRunNoticeTitle, kFirstRunNoticeMessage, nullptr, "OK")->show();

    // Stored at once, not when the user taps OK; every other key of the file is kept.
    auto written = updatePreferences(PreferenceFile::Main, [](Dictionary& update) { update["intromessageshown"] = true; });
    if (!written) NSLog("First-run notice not recorded, it comes again: %s", written.failure.c_str());
}

}  // namespace vantrel::tweak
