// Placeholder: every replacement calls on to the previous implementation.
#include "tweak/lockscreen/lockscreen.h"

namespace vantrel::tweak {

IMP orig_SBNotificationCenterViewController__loadStatusBar;
IMP orig_SBLockScreenManager__finishUIUnlockFromSource_withOptions_;
IMP orig_SBLockScreenViewController_shouldShowLockStatusBarTime;
IMP orig_SBLockScreenViewController_statusBarStyle;
IMP orig_SBLockScreenViewControllerBase_activate;
IMP orig_SBLockScreenViewControllerBase_prepareForUIUnlock;
IMP orig_SBLockScreenViewControllerBase_deactivate;

void SBNotificationCenterViewController__loadStatusBar(id self, SEL _cmd) {
    callImp<void>(orig_SBNotificationCenterViewController__loadStatusBar, self, _cmd);
}
void SBLockScreenManager__finishUIUnlockFromSource_withOptions_(id self, SEL _cmd, int source, id options) {
    callImp<void>(orig_SBLockScreenManager__finishUIUnlockFromSource_withOptions_, self, _cmd, source, options);
}
bool SBLockScreenViewController_shouldShowLockStatusBarTime(id self, SEL _cmd) {
    return callImp<bool>(orig_SBLockScreenViewController_shouldShowLockStatusBarTime, self, _cmd);
}
int SBLockScreenViewController_statusBarStyle(id self, SEL _cmd) {
    return callImp<int>(orig_SBLockScreenViewController_statusBarStyle, self, _cmd);
}
void SBLockScreenViewControllerBase_activate(id self, SEL _cmd) {
    callImp<void>(orig_SBLockScreenViewControllerBase_activate, self, _cmd);
}
void SBLockScreenViewControllerBase_prepareForUIUnlock(id self, SEL _cmd) {
    callImp<void>(orig_SBLockScreenViewControllerBase_prepareForUIUnlock, self, _cmd);
}
void SBLockScreenViewControllerBase_deactivate(id self, SEL _cmd) {
    callImp<void>(orig_SBLockScreenViewControllerBase_deactivate, self, _cmd);
}

}  // namespace vantrel::tweak
