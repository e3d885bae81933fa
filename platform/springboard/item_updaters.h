// SpringBoard's per-item status bar updaters: methods of SBStatusBarStateAggregator without
// arguments, each recomputing its own items, in the order SpringBoard runs them when the
// device state changed. The time, thermal and tethering updaters are not in the list: each
// caller places them. Header only, no state: the tweak names these selectors as it names any
// other method of its host, and SpringBoard's own refresh walks the same list.
#pragma once

#include <array>

namespace platform {

inline constexpr char kBatteryItemsUpdater[] = "_updateBatteryItems";

inline constexpr std::array<const char*, 17> kStatusBarItemUpdaters = {
    "_updateQuietModeItem",
    "_updateAirplaneMode",
    "_updateSignalStrengthItem",
    "_updateServiceItem",
    "_updateDataNetworkItem",
    kBatteryItemsUpdater,
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
};

}  // namespace platform
