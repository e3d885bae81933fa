// The lock screen's status bar (time, style), the lock-screen hide-all, the first-run notice
// after the first completed unlock, and the Notification Centre's own status bar. Main thread.
#pragma once

#include "platform/runtime/runtime.h"

namespace vantrel::tweak {

inline constexpr char kFirstRunNoticeTitle[] = "Thank you for purchasing\nVantrel";
inline constexpr char kFirstRunNoticeMessage[] =
    "You can contact me with any feedback via my website, which is shown in the settings panel for Vantrel\n\n"
    "If you did not purchase this from Cydia =( but are finding it useful,\n Please consider donating!";

// Replacements (each calls on through its own Hook<&...>::previous).
void SBNotificationCenterViewController__loadStatusBar(id self, SEL _cmd);
void SBLockScreenManager__finishUIUnlockFromSource_withOptions_(id self, SEL _cmd, int source, id options);
bool SBLockScreenViewController_shouldShowLockStatusBarTime(id self, SEL _cmd);
int SBLockScreenViewController_statusBarStyle(id self, SEL _cmd);
void SBLockScreenViewControllerBase_activate(id self, SEL _cmd);
void SBLockScreenViewControllerBase_prepareForUIUnlock(id self, SEL _cmd);
void SBLockScreenViewControllerBase_deactivate(id self, SEL _cmd);

}  // namespace vantrel::tweak
