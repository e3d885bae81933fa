#include "tweak/items/items.h"

#include <string_view>

#include "platform/springboard/item_updaters.h"
#include "shared/settings.h"
#include "tweak/core/hooks.h"
#include "tweak/core/startup.h"
#include "tweak/core/state.h"

namespace vantrel::tweak {

const std::vector<ItemRow>& itemTable() {
    static const std::vector<ItemRow> rows = {
        {0, "clock", "clock0", "_updateTimeItems"},
        {1, "donotdisturb", "dnd1", "_updateQuietModeItem"},
        {2, "airplane", "airplane2", "_updateAirplaneMode"},
        {3, "signalbars", "signal3", "_updateSignalStrengthItem"},
        {4, "carrierlogo", "carrier4", "_updateServiceItem"},
        {5, "wifi", "wifi5", "_updateDataNetworkItem"},
        {6, "unknown1", "unknown6", nullptr},
        {7, "battery", "battery7", "_updateBatteryItems"},
        {8, "batterypercent1", "batterypercent8", "_updateBatteryItems"},
        {9, "batterypercent2", "bluetoothbatterypercent9", "_updateBatteryItems"},
        {10, "smallbattery1", "bluetoothbattery10", "_updateBluetoothBatteryItem"},
        {11, "bluetooth", "bluetooth11", "_updateBluetoothItem"},
        {12, "tty", "tty12", "_updateTTYItem"},
        {13, "alarm", "alarm13", "_updateAlarmItem"},
        {14, "unknown2", "unknown14", nullptr},
        {15, "unknown3", "unknown15", nullptr},
        {16, "location", "location16", "_updateLocationItem"},
        {17, "portraitlock", "portrait17", "_updateRotationLockItem"},
        {18, "unknown4", "unknown18", nullptr},
        {19, "airplay", "airplay19", "_updateAirplayItem"},
        {20, "assistant", "siri20", "_updateAssistantItem"},
        {21, "vpn", "vpn21", "_updateVPNItem"},
        {22, "callforwarding", "callforwarding22", "_updateCallForwardingItem"},
        {23, "activity", "activity23", "_updateActivityItem"},
        {24, "music", "unknow24", "_notifyNonItemDataChanged"},
        {25, "unknown5", "unknown25", "setShowsSyncActivityIndicator:"},
        // Features, not items: only the last step of the filter knows them.
        {26, "clockformat", nullptr, nullptr},
        {27, "sos", nullptr, nullptr},
        {29, "customcarrier", nullptr, nullptr},
    };
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
    if (readBool(testerPrefs, "enabletester")) {
        // Tester mode shows exactly what the user picked; an item without a tester key is not picked.
        return row && row->iconTesterKey && readBool(testerPrefs, row->iconTesterKey);
    }
    if (readBool(mainPrefs, "hideall")) return false;
    if (readBool(mainPrefs, "hideallls") && lockScreenHideIcons) return false;
    if (row && readBool(mainPrefs, row->hideKey)) return false;
    return requested;
}

bool SBStatusBarStateAggregator__setItem_enabled(id self, SEL _cmd, int item, bool enabled) {
    // Read into the filter's own dictionaries: it runs inside other operations (the clock-mode
    // step re-renders through here) that still hold theirs.
    // Only the keys the decision can look at are built: the same answers as a full read, and
    // this runs for every item SpringBoard sets.
    const ItemRow* row = itemRow(item);
    std::vector<std::string_view> testerKeys = {"enabletester"}, mainKeys = {"hideall", "hideallls"};
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
    for (const char* s : {"_updateTimeItems", "_notifyNonItemDataChanged", "_noteAirplaneModeChanged",
                          "_updateThermalColorItem"})
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
        {Hook<&SBStatusBarStateAggregator__setItem_enabled>::replacing("SBStatusBarStateAggregator",
                                                                       "_setItem:enabled:")},
    };
    return table;
}

}  // namespace vantrel::tweak
