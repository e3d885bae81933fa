#include "tweak/items/items.h"

#include <array>
#include <string_view>

#include "platform/springboard/item_updaters.h"
#include "shared/settings.h"
#include "tweak/core/hooks.h"
#include "tweak/core/startup.h"
#include "tweak/core/state.h"

namespace vantrel::tweak {

namespace {

// What the forced update calls for items 0 to 25; nullptr: nothing but the item push.
constexpr std::array<const char*, 26> kUpdateSelectors = {"_updateTimeItems",
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
                                                          "setShowsSyncActivityIndicator:"};

}  // namespace

// Every main key that belongs to an item makes a row: items 0 to 25, then the features only the
// last step of the filter knows (26, 27, 29), which have neither tester key nor update.
const std::vector<ItemRow>& itemTable() {
    static const std::vector<ItemRow> rows = [] {
        std::vector<ItemRow> table;
        for (const KeySchema& key : schemaRows(PreferenceFile::Main)) {
            if (key.item < 0) continue;
            bool statusBarItem = key.item < static_cast<int>(kUpdateSelectors.size());
            table.push_back({key.item, key.key, iconTesterKeyOfItem(key.item),
                             statusBarItem ? kUpdateSelectors[static_cast<size_t>(key.item)] : nullptr});
        }
        return table;
    }();
    return rows;
}

const ItemRow* itemRow(int index) {
    for (const auto& row : itemTable())
        if (row.index == index) return &row;
    return nullptr;
}

bool decideItemVisibility(int index, bool requested, const std::optional<Dictionary>& mainPrefs,
                          const std::optional<Dictionary>& testerPrefs, bool lockScreenHideIcons) {
    const ItemRow* row = itemRow(index);
    if (readKey<IconTesterKey::enabletester>(testerPrefs)) {
        // Tester mode shows exactly what the user picked; an item without a tester key is not picked.
        return row && row->iconTesterKey && readBool(testerPrefs, row->iconTesterKey);
    }
    if (readKey<MainKey::hideall>(mainPrefs)) return false;
    if (readKey<MainKey::hideallls>(mainPrefs) && lockScreenHideIcons) return false;
    if (row && readBool(mainPrefs, row->hideKey)) return false;
    return requested;
}

bool SBStatusBarStateAggregator__setItem_enabled(id self, SEL _cmd, int item, bool enabled) {
    // Read into the filter's own dictionaries: it runs inside other operations (the clock-mode
    // step re-renders through here) that still hold theirs.
    // Only the keys the decision can look at are built: the same answers as a full read, and
    // this runs for every item SpringBoard sets.
    const ItemRow* row = itemRow(item);
    std::vector<std::string_view> testerKeys = {keyName(IconTesterKey::enabletester)},
                                  mainKeys = {keyName(MainKey::hideall), keyName(MainKey::hideallls)};
    if (row && row->iconTesterKey) testerKeys.push_back(row->iconTesterKey);
    if (row) mainKeys.push_back(row->hideKey);
    std::optional<Dictionary> tester = readPreferenceKeys(PreferenceFile::IconTester, testerKeys);
    std::optional<Dictionary> main = readPreferenceKeys(PreferenceFile::Main, mainKeys);
    bool decided = decideItemVisibility(item, enabled, main, tester, LSHideIcons);
    return callPrevious<&SBStatusBarStateAggregator__setItem_enabled>(self, _cmd, item, decided);
}

namespace {

void send(id self, const char* selector) { msgSend<void>(self, sel(selector)); }

// Every item the status bar knows, taken again so the filter decides each anew. 25 is the
// sync indicator, which only syncStatus drives.
void takeItemsAgain(id self) {
    SEL update = sel("updateStatusBarItem:");
    SEL notify = sel("_notifyItemChanged:");
    for (int item = 0; item <= 24; ++item) {
        msgSend<void>(self, update, item);
        msgSend<void>(self, notify, item);
    }
}

// SpringBoard's own item updaters but the battery one, which only iconTesterSetIcon runs (first).
void updateItemsButBattery(id self) {
    for (const char* s : platform::kStatusBarItemUpdaters)
        if (std::string_view(s) != platform::kBatteryItemsUpdater) send(self, s);
}

}  // namespace

void iconTesterInit(id self, SEL) {
    send(self, "_updateTimeItems");
    updateItemsButBattery(self);
    send(self, "_updateThermalColorItem");
    send(self, "_updateTimeItems");
    takeItemsAgain(self);
}

void iconTesterSetIcon(id self, SEL) {
    send(self, "_updateTimeItems");
    send(self, platform::kBatteryItemsUpdater);
    updateItemsButBattery(self);
    for (const char* s : {"_updateTimeItems", "_notifyNonItemDataChanged", "_noteAirplaneModeChanged", "_updateThermalColorItem"})
        send(self, s);
    takeItemsAgain(self);
}

void syncStatus(id self, SEL) {
    syncStatusState = !syncStatusState;
    msgSend<void>(self, sel("setShowsSyncActivityIndicator:"), syncStatusState);
}

// ---- What start-up installs

const HookTable& itemHooks() {
    static const HookTable table{
        {adding<&iconTesterInit>("iconTesterInit"), adding<&iconTesterSetIcon>("iconTesterSetIcon"),
         adding<&syncStatus>("syncStatus")},
        {Hook<&SBStatusBarStateAggregator__setItem_enabled>::replacing("SBStatusBarStateAggregator", "_setItem:enabled:")},
    };
    return table;
}

}  // namespace vantrel::tweak
