// Status bar items: the item index table (declared in tweak/core/services.h, defined here), the
// visibility filter that replaces -[SBStatusBarStateAggregator _setItem:enabled:], and the added
// refresh methods iconTesterInit, iconTesterSetIcon and syncStatus; itemHooks() installs them.
// Main thread.
#pragma once

#include <optional>

#include "platform/foundation/value.h"
#include "platform/runtime/runtime.h"
#include "tweak/core/services.h"

namespace vantrel::tweak {

// The decision alone: what the filter passes on for item N asked with flag E.
bool decideItemVisibility(int index, bool requested, const std::optional<platform::Dictionary>& mainPrefs,
                          const std::optional<platform::Dictionary>& testerPrefs, bool lockScreenHideIcons);

// Replacement of _setItem:enabled: (its previous implementation: Hook<&...>::previous).
bool SBStatusBarStateAggregator__setItem_enabled(id self, SEL _cmd, int item, bool enabled);

// Added methods.
void iconTesterInit(id self, SEL _cmd);
void iconTesterSetIcon(id self, SEL _cmd);
void syncStatus(id self, SEL _cmd);

}  // namespace vantrel::tweak
