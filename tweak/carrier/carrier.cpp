#include "tweak/carrier/carrier.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "shared/settings.h"
#include "tweak/core/hooks.h"
#include "tweak/core/state.h"

namespace vantrel::tweak {

namespace {

// The data faker file, read afresh into datafakerprefs, which keeps the latest read.
const std::optional<Dictionary>& readDataFaker() {
    datafakerprefs = readPreferences(PreferenceFile::DataFaker);
    return datafakerprefs;
}

// "datatype" is passed through as stored; a number past the range of the answer is held at
// its edge rather than wrapped into some unrelated type.
int fakedDataType(const std::optional<Dictionary>& faker) {
    return static_cast<int>(std::clamp<int64_t>(readKey<DataFakerKey::datatype>(faker), std::numeric_limits<int>::min(),
                                                std::numeric_limits<int>::max()));
}

constexpr int kTetheringDataConnectionType = 8;
constexpr int kFakedTetheredDevices = 42;

}  // namespace

// ---- Carrier text and emergency-only status

bool SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus(id self, SEL _cmd) {
    if (mainSwitch(MainKey::sos)) return true;
    return callPrevious<&SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus>(self, _cmd);
}

Text SBStatusBarStateAggregator__sbCarrierNameForOperator_(id self, SEL _cmd, Text op) {
    if (mainSwitch(MainKey::customcarrier)) return carrierText;
    return callPrevious<&SBStatusBarStateAggregator__sbCarrierNameForOperator_>(self, _cmd, op);
}

Text SBStatusBarStateAggregator__displayStringForSIMStatus_(id self, SEL _cmd, Text status) {
    if (mainSwitch(MainKey::customcarrier)) return carrierText;
    return callPrevious<&SBStatusBarStateAggregator__displayStringForSIMStatus_>(self, _cmd, status);
}

Text SBStatusBarStateAggregator_operatorName_(id self, SEL _cmd, Text op) {
    if (mainSwitch(MainKey::customcarrier)) return carrierText;
    return callPrevious<&SBStatusBarStateAggregator_operatorName_>(self, _cmd, op);
}

// ---- Data network faker and tethering. "hidetethering" decides first, then the faker file.

int SBTelephonyManager_dataConnectionType(id self, SEL _cmd) {
    if (!mainSwitch(MainKey::hidetethering)) {
        const auto& faker = readDataFaker();
        if (readKey<DataFakerKey::enablefaker>(faker)) return fakedDataType(faker);
        if (readKey<DataFakerKey::enabletethering>(faker)) return kTetheringDataConnectionType;
    }
    return callPrevious<&SBTelephonyManager_dataConnectionType>(self, _cmd);
}

bool SBTelephonyManager_isNetworkTethering(id self, SEL _cmd) {
    if (!mainSwitch(MainKey::hidetethering) && readKey<DataFakerKey::enabletethering>(readDataFaker())) return true;
    return callPrevious<&SBTelephonyManager_isNetworkTethering>(self, _cmd);
}

int SBTelephonyManager_numberOfNetworkTetheredDevices(id self, SEL _cmd) {
    if (mainSwitch(MainKey::hidetethering)) return 0;
    if (readKey<DataFakerKey::enabletethering>(readDataFaker())) return kFakedTetheredDevices;
    return callPrevious<&SBTelephonyManager_numberOfNetworkTetheredDevices>(self, _cmd);
}

// ---- What start-up installs

const HookTable& carrierTextHooks() {
    static const HookTable table{
        {},
        {
            Hook<&SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus>::replacing("SBStatusBarStateAggregator",
                                                                                        "_shouldShowEmergencyOnlyStatus"),
            Hook<&SBStatusBarStateAggregator__sbCarrierNameForOperator_>::replacing("SBStatusBarStateAggregator",
                                                                                    "_sbCarrierNameForOperator:"),
            Hook<&SBStatusBarStateAggregator__displayStringForSIMStatus_>::replacing("SBStatusBarStateAggregator",
                                                                                     "_displayStringForSIMStatus:"),
            Hook<&SBStatusBarStateAggregator_operatorName_>::replacing("SBStatusBarStateAggregator", "operatorName:"),
        },
    };
    return table;
}

const HookTable& dataNetworkHooks() {
    static const HookTable table{
        {},
        {
            Hook<&SBTelephonyManager_dataConnectionType>::replacing("SBTelephonyManager", "dataConnectionType"),
            Hook<&SBTelephonyManager_isNetworkTethering>::replacing("SBTelephonyManager", "isNetworkTethering"),
            Hook<&SBTelephonyManager_numberOfNetworkTetheredDevices>::replacing("SBTelephonyManager",
                                                                                "numberOfNetworkTetheredDevices"),
        },
    };
    return table;
}

}  // namespace vantrel::tweak
