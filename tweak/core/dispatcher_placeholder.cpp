// Placeholder until the dispatcher lands.
#include "tweak/core/dispatcher.h"

namespace vantrel::tweak {
IMP orig_SpringBoard_applicationDidFinishLaunching_;
void SpringBoard_applicationDidFinishLaunching_(id self, SEL _cmd, id application) {
    callImp<void>(orig_SpringBoard_applicationDidFinishLaunching_, self, _cmd, application);
}
void settingsChanged(CFNotificationCenterRef, void*, const std::string&, const void*, const platform::Dictionary*) {}
}  // namespace vantrel::tweak
