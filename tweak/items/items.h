// Status bar items: the item index table (owned here, used by the whole tweak), the visibility
// filter that replaces -[SBStatusBarStateAggregator _setItem:enabled:], and the added refresh
// methods iconTesterInit, iconTesterSetIcon and syncStatus. Main thread.
#pragma once

#include <optional>

#include "platform/foundation/value.h"
#include "platform/runtime/runtime.h"

namespace vantrel::tweak {

struct ItemRow {
    int index;
    const char* hideKey;         // main preference file
    const char* iconTesterKey;   // icon tester file; nullptr for the rows past 25
    const char* updateSelector;  // what the forced update calls for the item; nullptr for none
};

// Items 0 to 25, then the filter's extra rows 26 ("clockformat"), 27 ("sos"), 29 ("customcarrier").
const std::vector<ItemRow>& itemTable();
const ItemRow* itemRow(int index);  // nullptr for an index without a row (28, above 29, negative)

// The decision alone: what the filter passes on for item N asked with flag E.
bool decideItemVisibility(int index, bool requested, const std::optional<platform::Dictionary>& mainPrefs,
                          const std::optional<platform::Dictionary>& testerPrefs, bool lockScreenHideIcons);

// Replacement of _setItem:enabled: and its previous implementation.
extern IMP orig_SBStatusBarStateAggregator__setItem_enabled;
bool SBStatusBarStateAggregator__setItem_enabled(id self, SEL _cmd, int item, bool enabled);

// Added methods.
void iconTesterInit(id self, SEL _cmd);
void iconTesterSetIcon(id self, SEL _cmd);
void syncStatus(id self, SEL _cmd);

}  // namespace vantrel::tweak
