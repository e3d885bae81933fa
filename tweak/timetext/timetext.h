// The time item's text: the clock-mode step (entries reset, forced, refresh) with its timers,
// the scramble animation engine, and the forced update of one item or mode by code. Main thread.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/runloop.h"
#include "platform/foundation/value.h"
#include "platform/runtime/runtime.h"

namespace vantrel::tweak {

enum class ClockEntry { Reset, Forced, Refresh };
void clockModeStep(id aggregator, ClockEntry entry);

// Replacements (each calls on through its own Hook<&...>::previous).
void SBStatusBarStateAggregator__updateTimeItems(id self, SEL _cmd);
void SBStatusBarStateAggregator__restartTimeItemTimer(id self, SEL _cmd);
void SBStatusBarStateAggregator__resetTimeItemFormatter(id self, SEL _cmd);

// Added methods.
void notifySettings_(id self, SEL _cmd, const platform::Dictionary* userInfo);
void carrierChangeAlert(id self, SEL _cmd);
void forceUpdate_(id self, SEL _cmd, int code);
void refreshTimer(id self, SEL _cmd);
std::u16string randomChar_(id self, SEL _cmd, std::string className);
void animateText(id self, SEL _cmd);
void reverseAnimateText(id self, SEL _cmd);
void shuffle_array_(id self, SEL _cmd, int start, const std::vector<std::u16string>* list);
void reShuffle_(id self, SEL _cmd, platform::Timer* timer);

// The random source of randomChar: (arc4random); tests install a seeded one.
void setRandomSource(uint32_t (*source)());

}  // namespace vantrel::tweak
