#include "platform/system/cfversion.h"

#include "platform/device/device_state.h"

namespace platform {

double kCFCoreFoundationVersionNumber() { return deviceState().coreFoundationVersionNumber; }
void setCoreFoundationVersionNumber(double version) { deviceState().coreFoundationVersionNumber = version; }

}  // namespace platform
