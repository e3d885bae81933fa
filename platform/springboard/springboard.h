// The simulated SpringBoard: the classes the tweak names, registered in the runtime, computing
// their status bar items from the device state. SpringBoard's own code sends every call
// through the runtime, so a replacement installed with MSHookMessageEx sees SpringBoard's
// internal calls too. Everything here runs on the main thread; the shared instances live as
// long as the process. Hosts read the state structs below to draw; tests record the calls.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/dateformatter.h"
#include "platform/foundation/runloop.h"
#include "platform/runtime/runtime.h"

namespace platform {

inline constexpr int kStatusBarItemCount = 26;

struct SBStatusBarStateAggregator : objc_object {
    std::array<bool, kStatusBarItemCount> itemEnabled{};
    std::array<bool, kStatusBarItemCount> itemRequested{};  // SpringBoard's own wish, before any filter
    DateFormatter* _timeItemDateFormatter = nullptr;        // found by name through the runtime
    std::string timeItemText;
    std::optional<std::string> serviceText;
    bool emergencyOnly = false;
    int dataNetworkType = 0;
    bool tethering = false;
    int tetheredDevices = 0;
    bool showsSyncActivityIndicator = false;
    std::shared_ptr<Timer> timeItemTimer;  // SpringBoard's own minute timer
    DateFormatter formatter;
};

struct SBLockScreenViewControllerBase : objc_object {
    bool active = false;
};
struct SBLockScreenViewController : SBLockScreenViewControllerBase {};

struct SBNotificationCenterViewController : objc_object {
    bool open = false;
    bool statusBarLoaded = false;
};

// Registers every class with its methods. Idempotent.
void registerSpringBoardClasses();

// The shared instances, created on first use (nullptr before registration).
id sharedInstance(const char* className);
SBStatusBarStateAggregator* statusBarAggregator();
SBLockScreenViewController* lockScreenViewController();
SBNotificationCenterViewController* notificationCenterViewController();

// What the host and the tests watch: every _notifyItemChanged: and every other state change of
// the status bar (time text, lock state, Notification Centre) in order.
void setStatusBarObserver(std::function<void(int item)> observer);  // -1: not an item
void notifyStatusBarObserver(int item);

// SpringBoard's own sequences, every step sent through the runtime.
void finishLaunching();         // -[SpringBoard applicationDidFinishLaunching:], then all items
void updateAllItems();          // what SpringBoard does when the device state changed
void deviceClockChanged();      // the device state's clock offset onto the main loop; the time item at once
void lockDevice();              // activate
void unlockDevice();            // prepareForUIUnlock, deactivate, _finishUIUnlockFromSource:withOptions:
void dismissLockScreen();       // deactivate alone: the lock screen goes away without an unlock
void openNotificationCenter();  // _loadStatusBar
void closeNotificationCenter();

// The lock screen's status bar as SpringBoard would draw it.
struct LockScreenStatusBar {
    bool showsTime;
    int style;
};
LockScreenStatusBar lockScreenStatusBar();

}  // namespace platform
