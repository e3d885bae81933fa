#include "platform/springboard/springboard.h"

#include <cmath>
#include <cstddef>
#include <mutex>

#include "platform/foundation/log.h"
#include "platform/device/device_state.h"

namespace platform {
namespace {

std::function<void(int)>& observer() {
    static std::function<void(int)> o;
    return o;
}

SEL S(const char* name) { return sel_registerName(name); }

template <class R, class... A>
void add(Class cls, const char* sel, R (*fn)(id, SEL, A...), const char* types) {
    class_addMethod(cls, S(sel), runtime::imp<R, A...>(fn), types);
}
template <class R, class... A>
void addClassMethod(Class cls, const char* sel, R (*fn)(id, SEL, A...)) {
    class_addMethod(object_getClass(classAsObject(cls)), S(sel), runtime::imp<R, A...>(fn), "@@:");
}

SBStatusBarStateAggregator* agg(id self) { return static_cast<SBStatusBarStateAggregator*>(self); }
id telephony() { return sharedInstance("SBTelephonyManager"); }

// Sends _setItem:enabled: through the runtime, where the tweak's filter sits, remembering what
// SpringBoard itself asked for so the status bar can take the item again later.
void setItem(id self, int item, bool enabled) {
    if (item >= 0 && item < kStatusBarItemCount) agg(self)->itemRequested[static_cast<size_t>(item)] = enabled;
    msgSend<bool>(self, S("_setItem:enabled:"), item, enabled);
}

// ---- SBStatusBarStateAggregator

bool _setItem_enabled(id self, SEL, int item, bool enabled) {
    if (item < 0 || item >= kStatusBarItemCount) return false;
    bool changed = agg(self)->itemEnabled[static_cast<size_t>(item)] != enabled;
    agg(self)->itemEnabled[static_cast<size_t>(item)] = enabled;
    return changed;
}

// The status bar takes item N again: SpringBoard's own wish for it passes the filter anew.
void updateStatusBarItem_(id self, SEL, int item) {
    if (item < 0 || item >= kStatusBarItemCount) return;
    msgSend<bool>(self, S("_setItem:enabled:"), item, agg(self)->itemRequested[static_cast<size_t>(item)]);
}
void _notifyItemChanged_(id, SEL, int item) { notifyStatusBarObserver(item); }

void _updateTimeItems(id self, SEL) {
    auto a = agg(self);
    a->timeItemText = a->_timeItemDateFormatter ? a->_timeItemDateFormatter->stringFromDate(RunLoop::main().now()) : "";
    setItem(self, 0, true);
    notifyStatusBarObserver(0);
}

void _resetTimeItemFormatter(id self, SEL) {
    auto a = agg(self);
    if (a->_timeItemDateFormatter) a->_timeItemDateFormatter->setDateFormat(std::string("h:mm a"));
}

void scheduleMinuteTick(id self) {
    auto a = agg(self);
    double now = RunLoop::main().now();
    double next = std::floor(now / 60.0) * 60.0 + 60.0;
    a->timeItemTimer = Timer::scheduled(next - now, Timer::Repeats::No, [self](Timer&) {
        msgSend<void>(self, S("_updateTimeItems"));
        scheduleMinuteTick(self);
    });
}

void _restartTimeItemTimer(id self, SEL) {
    auto a = agg(self);
    if (a->timeItemTimer) a->timeItemTimer->invalidate();
    scheduleMinuteTick(self);
}

void _updateQuietModeItem(id self, SEL) { setItem(self, 1, deviceState().doNotDisturb); }
void _updateAirplaneMode(id self, SEL) { setItem(self, 2, deviceState().airplaneMode); }
void _noteAirplaneModeChanged(id self, SEL) {
    msgSend<void>(self, S("_updateAirplaneMode"));
    msgSend<void>(self, S("_updateSignalStrengthItem"));
    msgSend<void>(self, S("_updateServiceItem"));
    msgSend<void>(self, S("_updateDataNetworkItem"));
}
void _updateSignalStrengthItem(id self, SEL) {
    const auto& d = deviceState();
    setItem(self, 3, !d.airplaneMode && d.simInserted);
}

std::optional<std::string> operatorName_(id, SEL, std::optional<std::string> op) { return op; }
std::optional<std::string> _sbCarrierNameForOperator_(id, SEL, std::optional<std::string> op) { return op; }
std::optional<std::string> _displayStringForSIMStatus_(id, SEL, std::optional<std::string> status) {
    if (status && *status == "kCTSIMSupportSIMStatusNotInserted") return std::string("No SIM");
    return std::string("SIM Locked");
}
bool _shouldShowEmergencyOnlyStatus(id, SEL) { return deviceState().emergencyOnly; }

void _updateServiceItem(id self, SEL) {
    const auto& d = deviceState();
    auto a = agg(self);
    using Text = std::optional<std::string>;
    if (!d.simInserted) {
        a->serviceText = msgSend<Text>(self, S("_displayStringForSIMStatus:"), Text("kCTSIMSupportSIMStatusNotInserted"));
    } else {
        Text op = msgSend<Text>(self, S("operatorName:"), d.carrier);
        a->serviceText = msgSend<Text>(self, S("_sbCarrierNameForOperator:"), op);
    }
    a->emergencyOnly = msgSend<bool>(self, S("_shouldShowEmergencyOnlyStatus"));
    setItem(self, 4, !d.airplaneMode);
}

void _updateDataNetworkItem(id self, SEL) {
    auto a = agg(self);
    a->dataNetworkType = msgSend<int>(telephony(), S("dataConnectionType"));
    const auto& d = deviceState();
    setItem(self, 5, !d.airplaneMode && a->dataNetworkType != 0);
}

void _updateTetheringState(id self, SEL) {
    auto a = agg(self);
    a->tethering = msgSend<bool>(telephony(), S("isNetworkTethering"));
    a->tetheredDevices = msgSend<int>(telephony(), S("numberOfNetworkTetheredDevices"));
    notifyStatusBarObserver(-1);
}

void _updateBatteryItems(id self, SEL) {
    const auto& d = deviceState();
    setItem(self, 7, true);
    setItem(self, 8, true);
    setItem(self, 9, d.bluetoothBatteryLevel.has_value());
}
void _updateBluetoothBatteryItem(id self, SEL) { setItem(self, 10, deviceState().bluetoothBatteryLevel.has_value()); }
void _updateBluetoothItem(id self, SEL) { setItem(self, 11, deviceState().bluetooth); }
void _updateTTYItem(id self, SEL) { setItem(self, 12, deviceState().tty); }
void _updateAlarmItem(id self, SEL) { setItem(self, 13, deviceState().alarm); }
void _updateLocationItem(id self, SEL) { setItem(self, 16, deviceState().location); }
void _updateRotationLockItem(id self, SEL) { setItem(self, 17, deviceState().rotationLock); }
void _updateAirplayItem(id self, SEL) { setItem(self, 19, deviceState().airplay); }
void _updateAssistantItem(id self, SEL) { setItem(self, 20, deviceState().assistant); }
void _updateVPNItem(id self, SEL) { setItem(self, 21, deviceState().vpn); }
void _updateCallForwardingItem(id self, SEL) { setItem(self, 22, deviceState().callForwarding); }
void _updateActivityItem(id self, SEL) { setItem(self, 23, deviceState().networkActivity); }
void _updateThermalColorItem(id, SEL) {}  // no item of its own: it tints the bar
void _notifyNonItemDataChanged(id self, SEL) {
    setItem(self, 24, deviceState().mediaPlaying);
    notifyStatusBarObserver(-1);
}
void setShowsSyncActivityIndicator_(id self, SEL, bool shows) {
    agg(self)->showsSyncActivityIndicator = shows;
    setItem(self, 25, shows);
    notifyStatusBarObserver(25);
}

// ---- SBTelephonyManager

int dataConnectionType(id, SEL) {
    const auto& d = deviceState();
    if (d.airplaneMode) return 0;
    if (d.wifiNetwork) return 7;
    return d.simInserted ? d.cellularDataType : 0;
}
bool isNetworkTethering(id, SEL) { return deviceState().tethering; }
int numberOfNetworkTetheredDevices(id, SEL) { return deviceState().tethering ? deviceState().tetheredDevices : 0; }

// ---- SBWiFiManager and SBMediaController

std::optional<std::string> currentNetworkName(id, SEL) {
    const auto& d = deviceState();
    return d.airplaneMode ? std::nullopt : d.wifiNetwork;
}
bool isPlaying(id, SEL) { return deviceState().mediaPlaying; }
std::optional<std::string> nowPlayingArtist(id, SEL) { return deviceState().nowPlayingArtist; }
std::optional<std::string> nowPlayingTitle(id, SEL) { return deviceState().nowPlayingTitle; }

// ---- Lock screen

void activate(id self, SEL) {
    static_cast<SBLockScreenViewControllerBase*>(self)->active = true;
    notifyStatusBarObserver(-1);
}
void prepareForUIUnlock(id, SEL) {}
void deactivate(id self, SEL) {
    static_cast<SBLockScreenViewControllerBase*>(self)->active = false;
    notifyStatusBarObserver(-1);
}
bool shouldShowLockStatusBarTime(id, SEL) { return false; }
int statusBarStyle(id, SEL) { return 0; }
void _finishUIUnlockFromSource_withOptions_(id, SEL, int, id) {}

// ---- Notification Centre

void _loadStatusBar(id self, SEL) { static_cast<SBNotificationCenterViewController*>(self)->statusBarLoaded = true; }

// ---- SpringBoard

void applicationDidFinishLaunching_(id, SEL, id) {}

// ---- shared instances

template <class T>
T* makeShared(const char* className) {
    Class cls = objc_getClass(className);
    if (!cls) return nullptr;
    auto* obj = new T();  // lives as long as SpringBoard
    obj->isa = cls;
    return obj;
}

id sharedAggregator(id, SEL) {
    static id instance = [] {
        auto* a = makeShared<SBStatusBarStateAggregator>("SBStatusBarStateAggregator");
        if (a) {
            a->_timeItemDateFormatter = &a->formatter;
            a->formatter.setDateFormat(std::string("h:mm a"));
        }
        return static_cast<id>(a);
    }();
    return instance;
}
id sharedTelephony(id, SEL) {
    static id i = makeShared<objc_object>("SBTelephonyManager");
    return i;
}
id sharedWiFi(id, SEL) {
    static id i = makeShared<objc_object>("SBWiFiManager");
    return i;
}
id sharedMedia(id, SEL) {
    static id i = makeShared<objc_object>("SBMediaController");
    return i;
}
id sharedLockManager(id, SEL) {
    static id i = makeShared<objc_object>("SBLockScreenManager");
    return i;
}
id sharedApplication(id, SEL) {
    static id i = makeShared<objc_object>("SpringBoard");
    return i;
}

}  // namespace

void registerSpringBoardClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        Class nsobject = objc_registerClass("NSObject", nullptr);

        Class a = objc_registerClass("SBStatusBarStateAggregator", nsobject);
        addClassMethod(a, "sharedInstance", sharedAggregator);
        add(a, "_setItem:enabled:", _setItem_enabled, "c@:ic");
        add(a, "updateStatusBarItem:", updateStatusBarItem_, "v@:i");
        add(a, "_notifyItemChanged:", _notifyItemChanged_, "v@:i");
        add(a, "_updateTimeItems", _updateTimeItems, "v@:");
        add(a, "_resetTimeItemFormatter", _resetTimeItemFormatter, "v@:");
        add(a, "_restartTimeItemTimer", _restartTimeItemTimer, "v@:");
        add(a, "_updateQuietModeItem", _updateQuietModeItem, "v@:");
        add(a, "_updateAirplaneMode", _updateAirplaneMode, "v@:");
        add(a, "_noteAirplaneModeChanged", _noteAirplaneModeChanged, "v@:");
        add(a, "_updateSignalStrengthItem", _updateSignalStrengthItem, "v@:");
        add(a, "_updateServiceItem", _updateServiceItem, "v@:");
        add(a, "operatorName:", operatorName_, "@@:@");
        add(a, "_sbCarrierNameForOperator:", _sbCarrierNameForOperator_, "@@:@");
        add(a, "_displayStringForSIMStatus:", _displayStringForSIMStatus_, "@@:@");
        add(a, "_shouldShowEmergencyOnlyStatus", _shouldShowEmergencyOnlyStatus, "c@:");
        add(a, "_updateDataNetworkItem", _updateDataNetworkItem, "v@:");
        add(a, "_updateTetheringState", _updateTetheringState, "v@:");
        add(a, "_updateBatteryItems", _updateBatteryItems, "v@:");
        add(a, "_updateBluetoothBatteryItem", _updateBluetoothBatteryItem, "v@:");
        add(a, "_updateBluetoothItem", _updateBluetoothItem, "v@:");
        add(a, "_updateTTYItem", _updateTTYItem, "v@:");
        add(a, "_updateAlarmItem", _updateAlarmItem, "v@:");
        add(a, "_updateLocationItem", _updateLocationItem, "v@:");
        add(a, "_updateRotationLockItem", _updateRotationLockItem, "v@:");
        add(a, "_updateAirplayItem", _updateAirplayItem, "v@:");
        add(a, "_updateAssistantItem", _updateAssistantItem, "v@:");
        add(a, "_updateVPNItem", _updateVPNItem, "v@:");
        add(a, "_updateCallForwardingItem", _updateCallForwardingItem, "v@:");
        add(a, "_updateActivityItem", _updateActivityItem, "v@:");
        add(a, "_updateThermalColorItem", _updateThermalColorItem, "v@:");
        add(a, "_notifyNonItemDataChanged", _notifyNonItemDataChanged, "v@:");
        add(a, "setShowsSyncActivityIndicator:", setShowsSyncActivityIndicator_, "v@:c");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
        class_addIvar(a, "_timeItemDateFormatter", offsetof(SBStatusBarStateAggregator, _timeItemDateFormatter),
                      "@\"NSDateFormatter\"");
#pragma GCC diagnostic pop

        Class t = objc_registerClass("SBTelephonyManager", nsobject);
        addClassMethod(t, "sharedInstance", sharedTelephony);
        add(t, "dataConnectionType", dataConnectionType, "i@:");
        add(t, "isNetworkTethering", isNetworkTethering, "c@:");
        add(t, "numberOfNetworkTetheredDevices", numberOfNetworkTetheredDevices, "i@:");

        Class w = objc_registerClass("SBWiFiManager", nsobject);
        addClassMethod(w, "sharedInstance", sharedWiFi);
        add(w, "currentNetworkName", currentNetworkName, "@@:");

        Class m = objc_registerClass("SBMediaController", nsobject);
        addClassMethod(m, "sharedInstance", sharedMedia);
        add(m, "isPlaying", isPlaying, "c@:");
        add(m, "nowPlayingArtist", nowPlayingArtist, "@@:");
        add(m, "nowPlayingTitle", nowPlayingTitle, "@@:");

        Class base = objc_registerClass("SBLockScreenViewControllerBase", nsobject);
        add(base, "activate", activate, "v@:");
        add(base, "prepareForUIUnlock", prepareForUIUnlock, "v@:");
        add(base, "deactivate", deactivate, "v@:");
        Class vc = objc_registerClass("SBLockScreenViewController", base);
        add(vc, "shouldShowLockStatusBarTime", shouldShowLockStatusBarTime, "c@:");
        add(vc, "statusBarStyle", statusBarStyle, "i@:");

        Class lm = objc_registerClass("SBLockScreenManager", nsobject);
        addClassMethod(lm, "sharedInstance", sharedLockManager);
        add(lm, "_finishUIUnlockFromSource:withOptions:", _finishUIUnlockFromSource_withOptions_, "v@:i@");

        Class nc = objc_registerClass("SBNotificationCenterViewController", nsobject);
        add(nc, "_loadStatusBar", _loadStatusBar, "v@:");

        Class sb = objc_registerClass("SpringBoard", nsobject);
        addClassMethod(sb, "sharedApplication", sharedApplication);
        add(sb, "applicationDidFinishLaunching:", applicationDidFinishLaunching_, "v@:@");
    });
}

id sharedInstance(const char* className) {
    Class cls = objc_getClass(className);
    if (!cls) return nullptr;
    const char* sel = std::string(className) == "SpringBoard" ? "sharedApplication" : "sharedInstance";
    return msgSend<id>(classAsObject(cls), S(sel));
}

SBStatusBarStateAggregator* statusBarAggregator() {
    return static_cast<SBStatusBarStateAggregator*>(sharedInstance("SBStatusBarStateAggregator"));
}

SBLockScreenViewController* lockScreenViewController() {
    static auto* vc = makeShared<SBLockScreenViewController>("SBLockScreenViewController");
    return vc;
}

SBNotificationCenterViewController* notificationCenterViewController() {
    static auto* vc = makeShared<SBNotificationCenterViewController>("SBNotificationCenterViewController");
    return vc;
}

void setStatusBarObserver(std::function<void(int)> o) { observer() = std::move(o); }
void notifyStatusBarObserver(int item) {
    if (observer()) observer()(item);
}

}  // namespace platform
