// Placeholder until the item filter lands.
#include "tweak/items/items.h"

namespace vantrel::tweak {
IMP orig_SBStatusBarStateAggregator__setItem_enabled;
bool SBStatusBarStateAggregator__setItem_enabled(id self, SEL _cmd, int item, bool enabled) {
    return callImp<bool>(orig_SBStatusBarStateAggregator__setItem_enabled, self, _cmd, item, enabled);
}
void iconTesterInit(id, SEL) {}
void iconTesterSetIcon(id, SEL) {}
void syncStatus(id, SEL) {}
}  // namespace vantrel::tweak
