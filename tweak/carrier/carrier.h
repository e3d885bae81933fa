// Carrier text and emergency-only status on SBStatusBarStateAggregator; data network faker and
// tethering on SBTelephonyManager. Each replacement reads its files at every call. Main thread.
#pragma once

#include <optional>
#include <string>

#include "platform/runtime/runtime.h"

namespace vantrel::tweak {

using Text = std::optional<std::string>;

bool SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus(id self, SEL _cmd);
Text SBStatusBarStateAggregator__sbCarrierNameForOperator_(id self, SEL _cmd, Text op);
Text SBStatusBarStateAggregator__displayStringForSIMStatus_(id self, SEL _cmd, Text status);
Text SBStatusBarStateAggregator_operatorName_(id self, SEL _cmd, Text op);

int SBTelephonyManager_dataConnectionType(id self, SEL _cmd);
bool SBTelephonyManager_isNetworkTethering(id self, SEL _cmd);
int SBTelephonyManager_numberOfNetworkTetheredDevices(id self, SEL _cmd);

}  // namespace vantrel::tweak
