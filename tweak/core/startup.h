// Start-up of the tweak inside SpringBoard: the settings initialisation, then the method
// installation from the two tables below, in their order. A class or method missing from the
// running SpringBoard is logged and its row skipped; the rest installs. Main thread.
#pragma once

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
    IMP* previous;  // the slot beside the replacement
};

const std::vector<AddedMethod>& addedMethods();
const std::vector<ReplacedMethod>& replacedMethods();

void initializeSettings();
void installMethods();
void startUp();  // both, in order (the dylib's constructor)

// SEL by name, interned once per call site.
inline SEL sel(const char* name) { return sel_registerName(name); }
// +[SBStatusBarStateAggregator sharedInstance]
id sharedAggregator();

}  // namespace vantrel::tweak
