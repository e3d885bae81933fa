// The settings-change dispatcher, subscribed to "vantrel.SettingsChanged" by the replacement of
// -[SpringBoard applicationDidFinishLaunching:]. Turns each item code into one call on the
// shared aggregator; an unreadable code shows the "Toggle Error" alert. Main thread.
#pragma once

#include <string>

#include "platform/foundation/notifications.h"
#include "platform/runtime/runtime.h"

namespace vantrel::tweak {

void SpringBoard_applicationDidFinishLaunching_(id self, SEL _cmd, id application);

void settingsChanged(CFNotificationCenterRef center, void* observer, const std::string& name, const void* object,
                     const platform::Dictionary* userInfo);

}  // namespace vantrel::tweak
