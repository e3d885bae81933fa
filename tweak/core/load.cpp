// Runs when the loader injects Vantrel.dylib into SpringBoard.
#include "tweak/core/activator.h"
#include "tweak/core/startup.h"

__attribute__((constructor)) static void vantrelLoaded() {
    // Class +load methods run before the library's constructors.
    vantrel::tweak::loadVantrelTweak();
    vantrel::tweak::startUp();
}
