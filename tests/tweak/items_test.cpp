#include "tests/tweak/fixture.h"
#include "tests/tweak/items_recording.h"
#include "tweak/items/items.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

struct FilterCase {
    const char* name;
    Dictionary main;
    std::optional<Dictionary> tester;  // nullopt: no icon tester file
    bool lockScreen;                   // LSHideIcons
    int item;
    bool requested;
    bool expected;
};

std::ostream& operator<<(std::ostream& os, const FilterCase& c) { return os << c.name; }

class FilterTest : public TweakTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(FilterTest, DecidesWithThePrecedenceOfBothFiles) {
    const FilterCase& c = GetParam();
    // The pure decision and the replacement SpringBoard reaches must agree.
    EXPECT_EQ(tweak::decideItemVisibility(c.item, c.requested, c.main, c.tester, c.lockScreen), c.expected);
    writeMain(c.main);
    if (c.tester) writeTester(*c.tester);
    tweak::LSHideIcons = c.lockScreen;
    if (c.item >= 0 && c.item < platform::kStatusBarItemCount) {
        msgSend<bool>(aggregator(), tweak::sel("_setItem:enabled:"), c.item, c.requested);
        EXPECT_EQ(platform::statusBarAggregator()->itemEnabled[static_cast<size_t>(c.item)], c.expected);
    }
}

const Dictionary kTesterOn{{"enabletester", true}, {"clock0", true}};

INSTANTIATE_TEST_SUITE_P(
    Precedence, FilterTest,
    ::testing::Values(
        FilterCase{"NothingHiddenPassesTrue", {}, std::nullopt, false, 3, true, true},
        FilterCase{"FalsePassesThrough", {}, std::nullopt, false, 3, false, false},
        FilterCase{"NoFilesPassFlag", {}, std::nullopt, false, 11, true, true},
        FilterCase{"TesterBeatsHideAll", {{"hideall", true}}, kTesterOn, false, 0, false, true},
        FilterCase{"TesterAbsentKeyHides", {}, kTesterOn, false, 5, true, false},
        FilterCase{"TesterKeyShowsAgainstSpringBoard",
                   {{"wifi", true}},
                   Dictionary{{"enabletester", true}, {"wifi5", true}},
                   false,
                   5,
                   false,
                   true},
        FilterCase{"TesterOffIgnoresTesterKeys", {}, Dictionary{{"enabletester", false}, {"wifi5", false}}, false, 5, true, true},
        FilterCase{"TesterIndexWithoutRowHides", {}, kTesterOn, false, 26, true, false},
        FilterCase{"HideAllHidesEverything", {{"hideall", true}}, std::nullopt, false, 7, true, false},
        FilterCase{"LockScreenHideAllWhileLocked", {{"hideallls", true}}, std::nullopt, true, 7, true, false},
        FilterCase{"LockScreenHideAllUnlocked", {{"hideallls", true}}, std::nullopt, false, 7, true, true},
        FilterCase{"LockFlagWithoutKey", {}, std::nullopt, true, 7, true, true},
        FilterCase{"OwnKeyHides", {{"batterypercent2", true}}, std::nullopt, false, 9, true, false},
        FilterCase{"OwnKeyFalsePasses", {{"batterypercent2", false}}, std::nullopt, false, 9, true, true},
        FilterCase{"OwnKeyAsNumber", {{"alarm", 1}}, std::nullopt, false, 13, true, false},
        FilterCase{"OtherItemsKeyIgnored", {{"alarm", true}}, std::nullopt, false, 12, true, true},
        FilterCase{"ClockModeHidesRow26", {{"clockformat", 3}}, std::nullopt, false, 26, true, false},
        FilterCase{"ClockModeZeroPassesRow26", {{"clockformat", 0}}, std::nullopt, false, 26, true, true},
        FilterCase{"SosHidesRow27", {{"sos", true}}, std::nullopt, false, 27, true, false},
        FilterCase{"CustomCarrierHidesRow29", {{"customcarrier", true}}, std::nullopt, false, 29, true, false},
        FilterCase{"Row28PassesFlag", {{"customcarrier", true}, {"sos", true}}, std::nullopt, false, 28, true, true},
        FilterCase{"HideAllStillHidesRow28", {{"hideall", true}}, std::nullopt, false, 28, true, false},
        // An index SpringBoard may grow beyond the table: no key of its own, the flag passes.
        FilterCase{"UnknownIndexPassesFlag", {{"wifi", true}}, std::nullopt, false, 99, true, true},
        FilterCase{"NegativeIndexPassesFlag", {}, std::nullopt, false, -1, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

class RefreshTest : public TweakTest {
protected:
    void SetUp() override {
        TweakTest::SetUp();
        installRecorder();
    }
    void TearDown() override {
        removeRecorder();
        TweakTest::TearDown();
    }
};

const std::vector<std::string> kInitUpdates = {"_updateTimeItems",
                                               "_updateQuietModeItem",
                                               "_updateAirplaneMode",
                                               "_updateSignalStrengthItem",
                                               "_updateServiceItem",
                                               "_updateDataNetworkItem",
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
                                               "_updateTimeItems"};

const std::vector<std::string> kSetIconUpdates = {
    "_updateTimeItems",          "_updateBatteryItems",    "_updateQuietModeItem",   "_updateAirplaneMode",
    "_updateSignalStrengthItem", "_updateServiceItem",     "_updateDataNetworkItem", "_updateBluetoothBatteryItem",
    "_updateBluetoothItem",      "_updateTTYItem",         "_updateAlarmItem",       "_updateLocationItem",
    "_updateRotationLockItem",   "_updateAirplayItem",     "_updateAssistantItem",   "_updateVPNItem",
    "_updateCallForwardingItem", "_updateActivityItem",    "_updateTimeItems",       "_notifyNonItemDataChanged",
    "_noteAirplaneModeChanged",  "_updateThermalColorItem"};

std::vector<std::string> withItemPairs(std::vector<std::string> calls) {
    for (int i = 0; i <= 24; ++i) {
        calls.push_back("updateStatusBarItem:" + std::to_string(i));
        calls.push_back("_notifyItemChanged:" + std::to_string(i));
    }
    return calls;
}

TEST_F(RefreshTest, RefreshesCallInTheirOrderAndTakeItems0To24) {
    msgSend<void>(aggregator(), tweak::sel("iconTesterInit"));
    EXPECT_EQ(callsAtDepth(1), withItemPairs(kInitUpdates));
    EXPECT_EQ(countCalls("_updateBatteryItems"), 0);
    EXPECT_EQ(countCalls("updateStatusBarItem:25") + countCalls("_notifyItemChanged:25"), 0);

    recordedCalls().clear();
    msgSend<void>(aggregator(), tweak::sel("iconTesterSetIcon"));
    EXPECT_EQ(callsAtDepth(1), withItemPairs(kSetIconUpdates));
}

TEST_F(RefreshTest, HideAllEmptiesTheBarAfterOneRefresh) {
    platform::updateAllItems();
    ASSERT_TRUE(platform::statusBarAggregator()->itemEnabled[0]);
    writeMain({{"hideall", true}});
    msgSend<void>(aggregator(), tweak::sel("iconTesterInit"));
    for (size_t i = 0; i < 25; ++i) EXPECT_FALSE(platform::statusBarAggregator()->itemEnabled[i]) << i;
}

TEST_F(RefreshTest, SyncStatusFlipsFromHiddenWhateverTheSyncKey) {
    writeTester({{"enabletester", true}, {"sync", false}, {"unknown25", true}});
    tweak::initializeSettings();  // a respring
    msgSend<void>(aggregator(), tweak::sel("syncStatus"));
    EXPECT_TRUE(platform::statusBarAggregator()->showsSyncActivityIndicator);
    EXPECT_TRUE(tweak::syncStatusState);
    msgSend<void>(aggregator(), tweak::sel("syncStatus"));
    EXPECT_FALSE(platform::statusBarAggregator()->showsSyncActivityIndicator);
    EXPECT_EQ(callsAtDepth(1), (std::vector<std::string>{"setShowsSyncActivityIndicator:1", "setShowsSyncActivityIndicator:0"}));
}

TEST(ItemTable, RowsCarryBothKeysAndOnlyTheFilterRowsPast25) {
    ASSERT_EQ(tweak::itemTable().size(), 29u);
    for (int i = 0; i < 26; ++i) {
        const tweak::ItemRow* row = tweak::itemRow(i);
        ASSERT_TRUE(row) << i;
        EXPECT_TRUE(row->hideKey && row->iconTesterKey) << i;
    }
    for (int feature : {26, 27, 29}) EXPECT_FALSE(tweak::itemRow(feature)->iconTesterKey) << feature;
    for (int none : {-1, 28, 30, 99}) EXPECT_EQ(tweak::itemRow(none), nullptr) << none;
}

}  // namespace
