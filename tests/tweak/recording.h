// Test helpers around the tweak: a recorder put between a replacement and its previous
// implementation (it counts the calls and calls on, so a case sees whether the tweak called on
// and what SpringBoard answers), and a watcher of the item codes posted on the distributed
// centre. Both are installed once per process and cleared by each case.
#pragma once

#include <map>
#include <vector>

#include "platform/foundation/notifications.h"
#include "platform/runtime/runtime.h"
#include "shared/settings.h"
#include "tweak/core/hooks.h"

namespace vantrel::test {

struct PreviousRecord {
    IMP original;
    int calls = 0;
};

// Every recorded call in order, by slot.
inline std::vector<const IMP*>& previousCallLog() {
    static std::vector<const IMP*> log;
    return log;
}

inline std::map<const IMP*, PreviousRecord>& previousRecords() {
    static std::map<const IMP*, PreviousRecord> records;
    return records;
}

template <IMP* Slot, class R, class... A>
R recordedPrevious(id self, SEL cmd, A... args) {
    auto& record = previousRecords()[Slot];
    ++record.calls;
    previousCallLog().push_back(Slot);
    return callImp<R, A...>(record.original, self, cmd, args...);
}

// Call after installation: the slot's previous implementation is wrapped once per process.
template <IMP* Slot, class R, class... A>
void recordPrevious() {
    if (previousRecords().count(Slot)) return;
    previousRecords()[Slot] = PreviousRecord{*Slot, 0};
    *Slot = runtime::imp<R, A...>(&recordedPrevious<Slot, R, A...>);
}

// The same, for a tweak replacement: its own slot, with the types read off the replacement.
template <auto Replacement>
constexpr IMP* slotOf = &tweak::Hook<Replacement>::previous;

template <IMP* Slot, class R, class... A>
void recordPreviousOf(R (*)(id, SEL, A...)) {
    recordPrevious<Slot, R, A...>();
}
template <auto Replacement>
void recordHook() {
    recordPreviousOf<slotOf<Replacement>>(Replacement);
}

inline int previousCalls(const IMP* slot) {
    auto it = previousRecords().find(slot);
    return it == previousRecords().end() ? 0 : it->second.calls;
}
// What SpringBoard itself answers, bypassing the recorder.
inline const IMP& originalPrevious(const IMP* slot) { return previousRecords().at(slot).original; }
inline void clearPreviousCalls() {
    for (auto& [slot, record] : previousRecords()) record.calls = 0;
    previousCallLog().clear();
}

// Every "itemToggled" code posted as "vantrel.SettingsChanged", in order of delivery.
inline std::vector<int>& postedCodes() {
    static std::vector<int> codes;
    return codes;
}
inline void watchPostedCodes(platform::NotificationCenter& center, platform::RunLoop& loop) {
    static bool watching = [&] {
        center.addObserver(
            kSettingsChangedNotification,
            [](const Dictionary* userInfo) {
                auto code = userInfo ? platform::readInt32(platform::lookup(*userInfo, kItemToggledKey)) : std::nullopt;
                postedCodes().push_back(code.value_or(-1));
            },
            loop);
        return true;
    }();
    (void)watching;
    postedCodes().clear();
}

}  // namespace vantrel::test
