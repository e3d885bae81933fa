// Runs when the Settings application loads Vantrel.bundle/Vantrel: the page classes register,
// with the folder this executable lies in as their bundle.
#include <dlfcn.h>

#include <string>

#include "prefs/pages.h"

namespace {
void bundleMarker() {}
}  // namespace

__attribute__((constructor)) static void vantrelPreferencesLoaded() {
    Dl_info info{};
    std::string bundle = ".";
    if (dladdr(reinterpret_cast<void*>(&bundleMarker), &info) && info.dli_fname) {
        std::string path = info.dli_fname;
        auto slash = path.rfind('/');
        if (slash != std::string::npos) bundle = path.substr(0, slash);
    }
    vantrel::prefs::registerPageClasses(bundle);
}
