// kCFCoreFoundationVersionNumber of the simulated device: the system software's version as the
// Core Foundation number, kept in the device state (847.20 is iOS 7.0). Main thread.
#pragma once

namespace platform {

double kCFCoreFoundationVersionNumber();
void setCoreFoundationVersionNumber(double version);

}  // namespace platform
