// The Activator listener VantrelTweak: an NSObject class adopting LAListener, registered in
// the runtime when the tweak is loaded. Its +load gives it the status bar single tap the first
// time Activator meets its name; each event it then receives moves "clockformat" to the next
// clock mode and announces it with code 26. Main thread.
#pragma once

#include "platform/runtime/runtime.h"

namespace vantrel::tweak {

inline constexpr char kStatusBarSingleTapEvent[] = "libactivator.statusbar.tap.single";
inline constexpr char kAnimationWarningTitle[] = "Warning";
inline constexpr char kAnimationWarningMessage[] =
    "Please DISABLE\n'Animated Custom Text'\nin order to use this activator feature.";

// +[VantrelTweak load]
void VantrelTweak_load(id self, SEL _cmd);
// -[VantrelTweak activator:receiveEvent:]
void VantrelTweak_activator_receiveEvent_(id self, SEL _cmd, id activator, id event);

// What the loader does with the class: registers VantrelTweak (idempotent), then sends it
// +load. Called once per SpringBoard process, before start-up.
void loadVantrelTweak();

}  // namespace vantrel::tweak
