#include "tweak/carrier/carrier.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "shared/settings.h"
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
    return static_cast<int>(std::clamp<int64_t>(readInteger(faker, "datatype"), std::numeric_limits<int>::min(),
                                                std::numeric_limits<int>::max()));
}

constexpr int kTetheringDataConnectionType = 8;
constexpr int kFakedTetheredDevices = 42;

}  // namespace

// ---- Carrier text and emergency-only status

IMP orig_SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus;
bool SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus(id self, SEL _cmd) {
    if (mainSwitch("sos")) return true;
    return callImp<bool>(orig_SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus, self, _cmd);
}

IMP orig_SBStatusBarStateAggregator__sbCarrierNameForOperator_;
Text SBStatusBarStateAggregator__sbCarrierNameForOperator_(id self, SEL _cmd, Text op) {
    if (mainSwitch("customcarrier")) return carrierText;
    return callImp<Text>(orig_SBStatusBarStateAggregator__sbCarrierNameForOperator_, self, _cmd, op);
}

IMP orig_SBStatusBarStateAggregator__displayStringForSIMStatus_;
Text SBStatusBarStateAggregator__displayStringForSIMStatus_(id self, SEL _cmd, Text status) {
    if (mainSwitch("customcarrier")) return carrierText;
    return callImp<Text>(orig_SBStatusBarStateAggregator__displayStringForSIMStatus_, self, _cmd, status);
}

IMP orig_SBStatusBarStateAggregator_operatorName_;
Text SBStatusBarStateAggregator_operatorName_(id self, SEL _cmd, Text op) {
    if (mainSwitch("customcarrier")) return carrierText;
    return callImp<Text>(orig_SBStatusBarStateAggregator_operatorName_, self, _cmd, op);
}

// ---- Data network faker and tethering. "hidetethering" decides first, then the faker file.

IMP orig_SBTelephonyManager_dataConnectionType;
int SBTelephonyManager_dataConnectionType(id self, SEL _cmd) {
    if (!mainSwitch("hidetethering")) {
        const auto& faker = readDataFaker();
        if (readBool(faker, "enablefaker")) return fakedDataType(faker);
        if (readBool(faker, "enabletethering")) return kTetheringDataConnectionType;
    }
    return callImp<int>(orig_SBTelephonyManager_dataConnectionType, self, _cmd);
}

IMP orig_SBTelephonyManager_isNetworkTethering;
bool SBTelephonyManager_isNetworkTethering(id self, SEL _cmd) {
    if (!mainSwitch("hidetethering") && readBool(readDataFaker(), "enabletethering")) return true;
    return callImp<bool>(orig_SBTelephonyManager_isNetworkTethering, self, _cmd);
}

IMP orig_SBTelephonyManager_numberOfNetworkTetheredDevices;
int SBTelephonyManager_numberOfNetworkTetheredDevices(id self, SEL _cmd) {
    if (mainSwitch("hidetethering")) return 0;
    if (readBool(readDataFaker(), "enabletethering")) return kFakedTetheredDevices;
    return callImp<int>(orig_SBTelephonyManager_numberOfNetworkTetheredDevices, self, _cmd);
}

}  // namespace vantrel::tweak
