// Start-up of the tweak inside SpringBoard: the settings initialisation, then the method
// installation: every subsystem's added methods, then every replaced one, each joined from the
// subsystems' tables (tweak/core/hooks.h) in one fixed order. A class or method missing from the
// running SpringBoard is logged and its row skipped; the rest installs. Main thread.
#pragma once

#include <vector>

#include "platform/runtime/runtime.h"
#include "tweak/core/hooks.h"

namespace vantrel::tweak {

// The subsystems' rows joined, in installation order; built once.
const std::vector<AddedMethod>& addedMethods();
const std::vector<ReplacedMethod>& replacedMethods();

void initializeSettings();
void installMethods();
void startUp();  // both, in order (the dylib's constructor)

// SEL by name. The runtime interns each name once; every call looks it up again.
inline SEL sel(const char* name) { return sel_registerName(name); }

}  // namespace vantrel::tweak
