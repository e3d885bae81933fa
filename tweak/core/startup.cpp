#include "tweak/core/startup.h"

#include "platform/foundation/file.h"
#include "platform/foundation/log.h"
#include "shared/settings.h"
#include "tweak/core/state.h"

namespace vantrel::tweak {

namespace {

// Installation order. Carrier and lock screen each have two tables because SpringBoard's
// launch hook and the Notification Centre's sit between their rows.
constexpr const HookTable& (*kTables[])() = {
    itemHooks,   timeTextHooks,   infoHooks,        carrierTextHooks, notificationCentreHooks,
    launchHooks, lockScreenHooks, dataNetworkHooks,
};

template <class Row>
std::vector<Row> joined(std::vector<Row> HookTable::*rows) {
    std::vector<Row> all;
    for (auto table : kTables) all.insert(all.end(), (table().*rows).begin(), (table().*rows).end());
    return all;
}

}  // namespace

const std::vector<AddedMethod>& addedMethods() {
    static const std::vector<AddedMethod> rows = joined(&HookTable::added);
    return rows;
}

const std::vector<ReplacedMethod>& replacedMethods() {
    static const std::vector<ReplacedMethod> rows = joined(&HookTable::replaced);
    return rows;
}

void initializeSettings() {
    NSLog("Vantrel by Quennick Loaded.");
    if (!platform::fileExists(preferencePath(PreferenceFile::Main))) {
        PreferenceLock lock(PreferenceFile::Main);  // the Settings app may be creating it too
        if (!platform::fileExists(preferencePath(PreferenceFile::Main)))
            if (auto written = writePreferences(lock, defaultPreferences(PreferenceFile::Main)); !written)
                NSLog("Main preference file not created: %s", written.failure.c_str());
    }
    prefs = readPreferences(PreferenceFile::Main);
    carrierText = readKey<MainKey::carrierText>(prefs);
    timeText = readKey<MainKey::timeText>(prefs);
    reverseText = readKey<MainKey::reverseString>(prefs);
    customTime = kDefaultCustomTime;
    prefs.reset();
    isAnimatingText = false;
    syncStatusState = false;
    isReverse = false;
    didPrepareForUnlock = false;
}

void installMethods() {
    // Each class is looked up right before its rows are installed; a missing one is skipped.
    Class aggregator = objc_getClass("SBStatusBarStateAggregator");
    for (const auto& row : addedMethods()) {
        if (!aggregator) {
            NSLog("Vantrel: class SBStatusBarStateAggregator not found; %s not added", row.selector);
            continue;
        }
        if (!class_addMethod(aggregator, sel(row.selector), row.implementation, "v@:"))
            NSLog("Vantrel: SBStatusBarStateAggregator already has %s; not added", row.selector);
    }
    for (const auto& row : replacedMethods()) {
        Class cls = objc_getClass(row.className);
        if (!cls) {
            NSLog("Vantrel: class %s not found; %s not replaced", row.className, row.selector);
            continue;
        }
        if (!class_respondsToSelector(cls, sel(row.selector))) {
            NSLog("Vantrel: %s has no method %s; not replaced", row.className, row.selector);
            continue;
        }
        MSHookMessageEx(cls, sel(row.selector), row.replacement, row.previous);
    }
}

void startUp() {
    initializeSettings();
    installMethods();
}

}  // namespace vantrel::tweak
