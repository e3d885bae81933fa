// Placeholder: every replacement calls on to the previous implementation.
#include "tweak/carrier/carrier.h"

namespace vantrel::tweak {

IMP orig_SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus;
IMP orig_SBStatusBarStateAggregator__sbCarrierNameForOperator_;
IMP orig_SBStatusBarStateAggregator__displayStringForSIMStatus_;
IMP orig_SBStatusBarStateAggregator_operatorName_;
IMP orig_SBTelephonyManager_dataConnectionType;
IMP orig_SBTelephonyManager_isNetworkTethering;
IMP orig_SBTelephonyManager_numberOfNetworkTetheredDevices;

bool SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus(id self, SEL _cmd) {
    return callImp<bool>(orig_SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus, self, _cmd);
}
Text SBStatusBarStateAggregator__sbCarrierNameForOperator_(id self, SEL _cmd, Text op) {
    return callImp<Text>(orig_SBStatusBarStateAggregator__sbCarrierNameForOperator_, self, _cmd, op);
}
Text SBStatusBarStateAggregator__displayStringForSIMStatus_(id self, SEL _cmd, Text status) {
    return callImp<Text>(orig_SBStatusBarStateAggregator__displayStringForSIMStatus_, self, _cmd, status);
}
Text SBStatusBarStateAggregator_operatorName_(id self, SEL _cmd, Text op) {
    return callImp<Text>(orig_SBStatusBarStateAggregator_operatorName_, self, _cmd, op);
}
int SBTelephonyManager_dataConnectionType(id self, SEL _cmd) {
    return callImp<int>(orig_SBTelephonyManager_dataConnectionType, self, _cmd);
}
bool SBTelephonyManager_isNetworkTethering(id self, SEL _cmd) {
    return callImp<bool>(orig_SBTelephonyManager_isNetworkTethering, self, _cmd);
}
int SBTelephonyManager_numberOfNetworkTetheredDevices(id self, SEL _cmd) {
    return callImp<int>(orig_SBTelephonyManager_numberOfNetworkTetheredDevices, self, _cmd);
}

}  // namespace vantrel::tweak
