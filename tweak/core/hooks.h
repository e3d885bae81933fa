// The rows start-up installs, and the helper that ties each replacement to its own slot:
// Hook<&replacement>::previous is the one slot MSHookMessageEx fills for that replacement's row,
// so no row can hand its previous implementation to another. Each subsystem defines its tables
// beside its replacements; start-up joins the getters below in installation order. Rows are
// built once, on first use; slots are written at installation only. Main thread.
#pragma once

#include <type_traits>
#include <utility>
#include <vector>

#include "platform/runtime/runtime.h"

namespace vantrel::tweak {

struct AddedMethod {
    const char* selector;  // added to SBStatusBarStateAggregator with the encoding "v@:"
    IMP implementation;
};

struct ReplacedMethod {
    const char* className;
    const char* selector;
    IMP replacement;
    IMP* previous;  // the replacement's own slot
};

struct HookTable {
    std::vector<AddedMethod> added;
    std::vector<ReplacedMethod> replaced;
};

template <auto Replacement>
struct Hook {
    static inline IMP previous;  // what a send reached before the replacement was installed

    static ReplacedMethod replacing(const char* className, const char* selector) {
        return {className, selector, runtime::imp(Replacement), &previous};
    }
};

template <auto Implementation>
AddedMethod adding(const char* selector) {
    return {selector, runtime::imp(Implementation)};
}

namespace detail {
template <class R, class... A>
R callThrough(const IMP& slot, R (*)(id, SEL, A...), id self, SEL cmd, std::type_identity_t<A>... args) {
    return callImp<R, A...>(slot, self, cmd, args...);
}
}  // namespace detail

// Calls on to what the replacement replaced, with the replacement's own result and argument types.
template <auto Replacement, class... Args>
auto callPrevious(id self, SEL cmd, Args&&... args) {
    return detail::callThrough(Hook<Replacement>::previous, Replacement, self, cmd, std::forward<Args>(args)...);
}

// Each subsystem's tables, one per feature (start-up installs them in the order it lists them).
const HookTable& itemHooks();                // tweak/items
const HookTable& timeTextHooks();            // tweak/timetext
const HookTable& infoHooks();                // tweak/info: added methods only
const HookTable& carrierTextHooks();         // tweak/carrier
const HookTable& dataNetworkHooks();         // tweak/carrier
const HookTable& notificationCentreHooks();  // tweak/lockscreen
const HookTable& lockScreenHooks();          // tweak/lockscreen
const HookTable& launchHooks();              // tweak/core

}  // namespace vantrel::tweak
