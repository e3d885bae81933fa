// A recording SpringBoard: replacements on top of the aggregator's methods (SpringBoard's own
// and the tweak's) that note each call with its nesting depth and call on, and an observer that
// notes every notification. The hooks last one test; the observer, once added, stays.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/foundation/notifications.h"
#include "platform/runtime/runtime.h"
#include "shared/settings.h"

namespace vantrel::test {

struct RecordedCall {
    int depth;
    std::string call;  // "selector" or "selector:argument"
};

inline std::vector<RecordedCall>& recordedCalls() {
    static std::vector<RecordedCall> calls;
    return calls;
}
inline int& recordingDepth() {
    static int depth = 0;
    return depth;
}
inline std::map<SEL, IMP>& recordedPrevious() {
    static std::map<SEL, IMP> slots;
    return slots;
}

// The calls made at one depth, in order (0: made by the test's caller itself).
inline std::vector<std::string> callsAtDepth(int depth) {
    std::vector<std::string> out;
    for (const auto& c : recordedCalls())
        if (c.depth == depth) out.push_back(c.call);
    return out;
}
inline int countCalls(const std::string& call) {
    int n = 0;
    for (const auto& c : recordedCalls()) n += c.call == call;
    return n;
}

namespace recording {

struct Scope {
    Scope(SEL sel, const std::string& suffix) {
        recordedCalls().push_back({recordingDepth(), std::string(sel_getName(sel)) + suffix});
        ++recordingDepth();
    }
    ~Scope() { --recordingDepth(); }
};

inline void plain(id self, SEL cmd) {
    Scope s(cmd, "");
    callImp<void>(recordedPrevious()[cmd], self, cmd);
}
inline void withInt(id self, SEL cmd, int value) {
    Scope s(cmd, std::to_string(value));
    callImp<void>(recordedPrevious()[cmd], self, cmd, value);
}
inline void withBool(id self, SEL cmd, bool value) {
    Scope s(cmd, value ? "1" : "0");
    callImp<void>(recordedPrevious()[cmd], self, cmd, value);
}

}  // namespace recording

inline const std::vector<const char*>& recordedSelectors() {
    static const std::vector<const char*> names = {"_updateTimeItems",
                                                   "_updateQuietModeItem",
                                                   "_updateAirplaneMode",
                                                   "_updateSignalStrengthItem",
                                                   "_updateServiceItem",
                                                   "_updateDataNetworkItem",
                                                   "_updateBatteryItems",
                                                   "_updateBluetoothBatteryItem",
                                                   "_updateBluetoothItem",
                                                   "_updateTTYItem",
                                                   "_updateAlarmItem",
                                                   "_updateLocationItem",
                                                   "_updateRotationLockItem",
                                                   "_updateAirplayItem",
                                                   "_updateAssistantItem",
                                                   "_updateVPNItem",
                                                   "_updateCallForwardingItem",
                                                   "_updateActivityItem",
                                                   "_updateThermalColorItem",
                                                   "_updateTetheringState",
                                                   "_notifyNonItemDataChanged",
                                                   "_noteAirplaneModeChanged",
                                                   "_restartTimeItemTimer",
                                                   "iconTesterInit",
                                                   "iconTesterSetIcon",
                                                   "syncStatus",
                                                   "refreshTimer",
                                                   "carrierChangeAlert",
                                                   "animateText",
                                                   "reverseAnimateText",
                                                   "updateStatusBarItem:",
                                                   "_notifyItemChanged:",
                                                   "forceUpdate:",
                                                   "setShowsSyncActivityIndicator:"};
    return names;
}

// Hooks the recorder on top for one test; removeRecorder puts every method back as it was, so
// other cases in the same process see the tables untouched.
inline void installRecorder() {
    recordedCalls().clear();
    recordingDepth() = 0;
    if (!recordedPrevious().empty()) return;
    Class cls = objc_getClass("SBStatusBarStateAggregator");
    for (const char* name : recordedSelectors()) {
        SEL s = sel_registerName(name);
        std::string n = name;
        IMP replacement = n == "setShowsSyncActivityIndicator:" ? runtime::imp(&recording::withBool)
                          : n.back() == ':'                     ? runtime::imp(&recording::withInt)
                                                                : runtime::imp(&recording::plain);
        MSHookMessageEx(cls, s, replacement, &recordedPrevious()[s]);
    }
}

inline void removeRecorder() {
    Class cls = objc_getClass("SBStatusBarStateAggregator");
    for (auto& [s, previous] : recordedPrevious()) {
        IMP ours;
        MSHookMessageEx(cls, s, previous, &ours);
    }
    recordedPrevious().clear();
}

// Every notification posted on the distributed centre, with its userInfo.
struct PostedNotification {
    std::string name;
    platform::Dictionary userInfo;
};
inline std::vector<PostedNotification>& postedNotifications() {
    static std::vector<PostedNotification> posted;
    return posted;
}
inline void recordNotifications() {
    static bool observing = [] {
        for (const char* name : {kSettingsChangedNotification, kAnimationChangedNotification})
            platform::NotificationCenter::distributed().addObserver(
                name,
                [name = std::string(name)](const platform::Dictionary* info) {
                    postedNotifications().push_back({name, info ? *info : platform::Dictionary{}});
                },
                platform::RunLoop::main());
        return true;
    }();
    (void)observing;
    postedNotifications().clear();
}

}  // namespace vantrel::test
