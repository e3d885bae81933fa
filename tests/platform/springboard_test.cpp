#include <gtest/gtest.h>

#include <vector>

#include "platform/foundation/runloop.h"
#include "platform/device/device_state.h"
#include "platform/springboard/springboard.h"

using namespace platform;

namespace {
std::vector<int> seenItems;
IMP previousSetItem;
bool recordingSetItem(id self, SEL cmd, int item, bool enabled) {
    seenItems.push_back(item);
    return callImp<bool>(previousSetItem, self, cmd, item, enabled);
}
}  // namespace

// SpringBoard's own updates go through the runtime, so a replacement sees every one of them.
TEST(SimulatedSpringBoard, EveryItemUpdateReachesSetItemThroughTheRuntime) {
    ManualRunLoop loop;
    RunLoop::setMain(&loop);
    registerSpringBoardClasses();
    MSHookMessageEx(objc_getClass("SBStatusBarStateAggregator"), sel_registerName("_setItem:enabled:"),
                    runtime::imp<bool, int, bool>(&recordingSetItem), &previousSetItem);
    id agg = statusBarAggregator();
    struct Case {
        const char* update;
        std::vector<int> items;
    };
    std::vector<Case> cases = {{"_updateTimeItems", {0}},           {"_updateQuietModeItem", {1}},
                               {"_updateAirplaneMode", {2}},        {"_updateSignalStrengthItem", {3}},
                               {"_updateServiceItem", {4}},         {"_updateDataNetworkItem", {5}},
                               {"_updateBatteryItems", {7, 8, 9}},  {"_updateBluetoothBatteryItem", {10}},
                               {"_updateBluetoothItem", {11}},      {"_updateTTYItem", {12}},
                               {"_updateAlarmItem", {13}},          {"_updateLocationItem", {16}},
                               {"_updateRotationLockItem", {17}},   {"_updateAirplayItem", {19}},
                               {"_updateAssistantItem", {20}},      {"_updateVPNItem", {21}},
                               {"_updateCallForwardingItem", {22}}, {"_updateActivityItem", {23}},
                               {"_notifyNonItemDataChanged", {24}}};
    for (const auto& c : cases) {
        seenItems.clear();
        msgSend<void>(agg, sel_registerName(c.update));
        EXPECT_EQ(seenItems, c.items) << c.update;
    }
    seenItems.clear();
    msgSend<void>(agg, sel_registerName("setShowsSyncActivityIndicator:"), true);
    EXPECT_EQ(seenItems, std::vector<int>{25});
    EXPECT_TRUE(statusBarAggregator()->itemEnabled[25]);

    deviceState().airplaneMode = true;
    msgSend<void>(agg, sel_registerName("_updateSignalStrengthItem"));
    EXPECT_FALSE(statusBarAggregator()->itemEnabled[3]);
    deviceState() = DeviceState{};
    RunLoop::setMain(nullptr);
}

TEST(SimulatedSpringBoard, TimeItemUsesTheFormatterIvarAndTheLoopClock) {
    ManualRunLoop loop(14385600);  // 1970-06-15 12:00 UTC: that month in every time zone
    RunLoop::setMain(&loop);
    registerSpringBoardClasses();
    id agg = statusBarAggregator();
    Ivar iv = class_getInstanceVariable(object_getClass(agg), "_timeItemDateFormatter");
    ASSERT_NE(iv, nullptr);
    DateFormatter* f = *ivarPointer<DateFormatter*>(agg, iv);
    f->setDateFormat(std::string("'Hello' yyyy-MM"));
    msgSend<void>(agg, sel_registerName("_updateTimeItems"));
    EXPECT_EQ(statusBarAggregator()->timeItemText, "Hello 1970-06");
    f->setDateFormat(std::u16string(u"'a\xD800'"));  // an unpaired half renders, never crashes
    msgSend<void>(agg, sel_registerName("_updateTimeItems"));
    EXPECT_EQ(statusBarAggregator()->timeItemText.substr(0, 1), "a");
    RunLoop::setMain(nullptr);
}

// Each key a user sets as stored moves its own member and no other: a row naming the wrong
// member, or a codec that cannot read the key's type, fails here.
TEST(DeviceKeys, EachStoredKeyChangesItsOwnMemberAlone) {
    const Dictionary defaults = DeviceState{}.toDictionary();
    for (const HardwareKey& key : hardwareKeys()) {
        if (key.changes != key.name) continue;  // worked into another key
        const Value* was = lookup(defaults, std::string(key.name));
        Value next;
        switch (key.type) {
        case HardwareType::Bool: next = Value(!(was && was->boolean() && *was->boolean())); break;
        case HardwareType::Int:
        case HardwareType::OptionalInt:
            next = Value(was && was->integer() && *was->integer() == key.min ? key.min + 1 : key.min);
            break;
        case HardwareType::Real: next = Value(1.5); break;
        case HardwareType::StringList: next = Value(Array{Value(std::string("a"))}); break;
        default: next = Value(std::string("changed")); break;
        }
        DeviceState state;
        std::vector<std::string> ignored;
        state.apply(Dictionary{{std::string(key.name), next}}, &ignored);
        EXPECT_TRUE(ignored.empty()) << key.name;
        Dictionary expected = defaults;
        expected[std::string(key.name)] = next;
        EXPECT_EQ(state.toDictionary(), expected) << key.name;
    }
}
