#include "tests/tweak/timetext_support.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

using Calls = std::vector<std::string>;

struct ForceCase {
    int code;
    Calls calls;  // what forceUpdate: calls, in order
};

std::ostream& operator<<(std::ostream& os, const ForceCase& c) { return os << "code " << c.code; }

class ForceUpdateTest : public TimeTextTest, public ::testing::WithParamInterface<ForceCase> {};

TEST_P(ForceUpdateTest, ActionThenTheItemPair) {
    const ForceCase& c = GetParam();
    writeMain({{"carrierText", "Mine"}});
    msgSend<void>(aggregator(), tweak::sel("forceUpdate:"), c.code);
    EXPECT_EQ(callsAtDepth(1), c.calls);
    EXPECT_EQ(tweak::carrierText, c.code == 29 ? std::optional<std::string>("Mine") : std::nullopt);
}

Calls item(int code, Calls action = {}) {
    action.push_back("updateStatusBarItem:" + std::to_string(code));
    action.push_back("_notifyItemChanged:" + std::to_string(code));
    return action;
}

// The update column of the item table, written out: forcing item N calls its own update
// (none for the unknown items), then takes the item again.
constexpr const char* kUpdateColumn[26] = {
    "_updateTimeItems",
    "_updateQuietModeItem",
    "_updateAirplaneMode",
    "_updateSignalStrengthItem",
    "_updateServiceItem",
    "_updateDataNetworkItem",
    nullptr,
    "_updateBatteryItems",
    "_updateBatteryItems",
    "_updateBatteryItems",
    "_updateBluetoothBatteryItem",
    "_updateBluetoothItem",
    "_updateTTYItem",
    "_updateAlarmItem",
    nullptr,
    nullptr,
    "_updateLocationItem",
    "_updateRotationLockItem",
    nullptr,
    "_updateAirplayItem",
    "_updateAssistantItem",
    "_updateVPNItem",
    "_updateCallForwardingItem",
    "_updateActivityItem",
    "_notifyNonItemDataChanged",
    "setShowsSyncActivityIndicator:0",
};

std::vector<ForceCase> forceCases() {
    std::vector<ForceCase> cases;
    for (int i = 0; i < 26; ++i) cases.push_back({i, item(i, kUpdateColumn[i] ? Calls{kUpdateColumn[i]} : Calls{})});
    // Codes past the items: features, reloads, and codes no sender makes.
    std::vector<ForceCase> others{{26, {"_updateTimeItems", "_restartTimeItemTimer"}},  // mode 0, no item pair
                                  {27, {"_updateServiceItem"}},
                                  {28, {}},
                                  {29, {"_updateServiceItem", "updateStatusBarItem:4", "_notifyItemChanged:4"}},
                                  {30, {}},
                                  {39, {}},
                                  {40, {"_updateTetheringState", "_updateDataNetworkItem"}},
                                  {41, {}},
                                  {50, {}},
                                  {-1, {}},
                                  {-26, {}},
                                  {INT32_MIN, {}}};
    cases.insert(cases.end(), others.begin(), others.end());
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Codes, ForceUpdateTest, ::testing::ValuesIn(forceCases()));

struct DispatchCase {
    const char* name;
    Dictionary userInfo;
    std::optional<Dictionary> tester;
    Calls calls;  // what the dispatcher calls on the aggregator
    bool toggleError;
};

std::ostream& operator<<(std::ostream& os, const DispatchCase& c) { return os << c.name; }

class DispatcherTest : public TimeTextTest, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatcherTest, MapsCodesToOneCall) {
    const DispatchCase& c = GetParam();
    if (c.tester) writeTester(*c.tester);
    tweak::settingsChanged(&center(), nullptr, kSettingsChangedNotification, nullptr, &c.userInfo);
    EXPECT_EQ(callsAtDepth(0), c.calls);
    if (c.toggleError) {
        ASSERT_EQ(platform::visibleAlerts().size(), 1u);
        auto alert = platform::visibleAlerts()[0];
        EXPECT_EQ(alert->title(), "Toggle Error");
        EXPECT_EQ(alert->message(), "Sorry, but there has been a problem with this toggle!");
        EXPECT_EQ(alert->buttonTitles(), Calls{"OK"});
        EXPECT_EQ(alert->delegate(), nullptr);
        // Repeats while it is up join it: counted, never stacked.
        for (int i = 0; i < 2; ++i)
            tweak::settingsChanged(&center(), nullptr, kSettingsChangedNotification, nullptr, &c.userInfo);
        ASSERT_EQ(platform::visibleAlerts().size(), 1u);
        EXPECT_EQ(alert->count(), 3u);
    } else {
        EXPECT_TRUE(platform::visibleAlerts().empty());
    }
}

const Dictionary kTesterOn{{"enabletester", true}};
const Dictionary kTesterOff{{"enabletester", false}};
Dictionary code(Value v) { return {{kItemToggledKey, v}}; }

INSTANTIATE_TEST_SUITE_P(Codes, DispatcherTest,
                         ::testing::Values(DispatchCase{"DataFaker", code(9991), std::nullopt, {"forceUpdate:5"}, false},
                                           DispatchCase{"TetheringFaker", code(9992), std::nullopt, {"forceUpdate:40"}, false},
                                           DispatchCase{"AllItemsTesterOff", code(99), kTesterOff, {"iconTesterInit"}, false},
                                           DispatchCase{
                                               "AllItemsNoTesterFile", code(99), std::nullopt, {"iconTesterInit"}, false},
                                           DispatchCase{"TesterItemOn", code(100), kTesterOn, {"iconTesterSetIcon"}, false},
                                           DispatchCase{"TesterItemOff", code(100), kTesterOff, {}, false},
                                           DispatchCase{"TesterItemNoFile", code(100), std::nullopt, {}, false},
                                           DispatchCase{"SyncOn", code(126), kTesterOn, {"syncStatus"}, false},
                                           DispatchCase{"SyncOff", code(126), kTesterOff, {}, false},
                                           DispatchCase{"ClockMode", code(26), std::nullopt, {"forceUpdate:26"}, false},
                                           DispatchCase{"Item", code(0), std::nullopt, {"forceUpdate:0"}, false},
                                           DispatchCase{"Unknown50", code(50), std::nullopt, {"forceUpdate:50"}, false},
                                           DispatchCase{"Negative", code(-3), std::nullopt, {"forceUpdate:-3"}, false},
                                           DispatchCase{"WholeReal", code(29.0), std::nullopt, {"forceUpdate:29"}, false},
                                           DispatchCase{"String", code("26"), std::nullopt, {}, true},
                                           DispatchCase{"Fraction", code(26.5), std::nullopt, {}, true},
                                           DispatchCase{"Boolean", code(true), std::nullopt, {}, true},
                                           DispatchCase{"TooWide", code(4294967296LL), std::nullopt, {}, true},
                                           DispatchCase{"NoKey", Dictionary{{"other", 1}}, std::nullopt, {}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TimeTextTest, MissingUserInfoShowsTheToggleError) {
    tweak::settingsChanged(&center(), nullptr, kSettingsChangedNotification, nullptr, nullptr);
    EXPECT_EQ(alertTitles(), Calls{"Toggle Error"});
    EXPECT_TRUE(recordedCalls().empty());
}

TEST_F(TimeTextTest, LaunchSubscribesOnceAndPostsArriveOnTheMainLoop) {
    finishLaunching();
    postSettingsChanged(ItemCode::AllItems);
    EXPECT_TRUE(recordedCalls().empty());  // delivered after the post returns
    loop().runPending();
    const int once = countCalls("iconTesterInit");
    EXPECT_GE(once, 1);
    finishLaunching();  // a second launch call must not subscribe again
    postSettingsChanged(ItemCode::AllItems);
    loop().runPending();
    EXPECT_EQ(countCalls("iconTesterInit"), 2 * once);
}

}  // namespace
