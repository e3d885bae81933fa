// SpringBoard's own sequences (springboard.h): what it does at launch, on a change of the
// device state, and around the lock screen and Notification Centre, every step sent through
// the runtime so the tweak's replacements see them.
#include "platform/device/device_state.h"
#include "platform/foundation/runloop.h"
#include "platform/springboard/item_updaters.h"
#include "platform/springboard/springboard.h"

namespace platform {
namespace {

SEL S(const char* name) { return sel_registerName(name); }
id aggId() { return statusBarAggregator(); }

}  // namespace

void updateAllItems() {
    id a = aggId();
    msgSend<void>(a, S("_updateTimeItems"));
    for (const char* s : kStatusBarItemUpdaters) msgSend<void>(a, S(s));
    for (const char* s : {"_updateThermalColorItem", "_updateTetheringState", "_notifyNonItemDataChanged"})
        msgSend<void>(a, S(s));
    for (int i = 0; i < kStatusBarItemCount; ++i) {
        msgSend<void>(a, S("updateStatusBarItem:"), i);
        msgSend<void>(a, S("_notifyItemChanged:"), i);
    }
}

void finishLaunching() {
    id a = aggId();
    RunLoop::main().setClockOffset(deviceState().clockOffset);
    msgSend<void>(a, S("_resetTimeItemFormatter"));
    msgSend<void>(a, S("_restartTimeItemTimer"));
    updateAllItems();
    msgSend<void>(sharedInstance("SpringBoard"), S("applicationDidFinishLaunching:"), sharedInstance("SpringBoard"));
}

void deviceClockChanged() {
    RunLoop::main().setClockOffset(deviceState().clockOffset);
    // The minute tick was due on the old clock: it is set again for the new one's next minute.
    msgSend<void>(aggId(), S("_restartTimeItemTimer"));
    msgSend<void>(aggId(), S("_updateTimeItems"));
}

void lockDevice() {
    deviceState().locked = true;
    msgSend<void>(lockScreenViewController(), S("activate"));
    notifyStatusBarObserver(-1);
}

void unlockDevice() {
    id vc = lockScreenViewController();
    msgSend<void>(vc, S("prepareForUIUnlock"));
    msgSend<void>(vc, S("deactivate"));
    deviceState().locked = false;
    msgSend<void>(sharedInstance("SBLockScreenManager"), S("_finishUIUnlockFromSource:withOptions:"), 0, id{nullptr});
    notifyStatusBarObserver(-1);
}

void dismissLockScreen() {
    msgSend<void>(lockScreenViewController(), S("deactivate"));
    notifyStatusBarObserver(-1);
}

void openNotificationCenter() {
    auto* nc = notificationCenterViewController();
    if (!nc) return;
    nc->statusBarLoaded = false;
    msgSend<void>(nc, S("_loadStatusBar"));
    nc->open = true;
    notifyStatusBarObserver(-1);
}

void closeNotificationCenter() {
    auto* nc = notificationCenterViewController();
    if (!nc) return;
    nc->open = false;
    nc->statusBarLoaded = false;
    notifyStatusBarObserver(-1);
}

LockScreenStatusBar lockScreenStatusBar() {
    id vc = lockScreenViewController();
    return {msgSend<bool>(vc, S("shouldShowLockStatusBarTime")), msgSend<int>(vc, S("statusBarStyle"))};
}

}  // namespace platform
