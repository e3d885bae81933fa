// Runs when the loader injects Vantrel.dylib into SpringBoard.
#include "tweak/core/startup.h"

__attribute__((constructor)) static void vantrelLoaded() { vantrel::tweak::startUp(); }
