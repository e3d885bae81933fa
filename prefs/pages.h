// The preference bundle's pages as the Settings host opens them. The bundle's executable
// registers the three page classes when it is loaded (registerPageClasses, run by load.cpp);
// everything else goes through the platform's Settings-application calls
// (platform/preferences/settings_app.h) by class and selector, so a host that dlopens the
// bundle needs nothing of it at link time. Main thread.
//
//   id page = vantrel::prefs::openPage("main");          // or "icontester", "datafaker"
//   for (auto& row : platform::controllerRows(page)) ... // label, cell, key, value, action, detail
//   platform::setControllerValue(page, platform::specifierForKey(page, "hideall"), platform::Value(true));
//   platform::performAction(page, platform::specifierForAction(page, "carrierText:"));
//   platform::suspendController(page);                    // Settings sent to the background
//   platform::leaveController(page);                      // viewWillDisappear:, dealloc
//
// A link row's "detail" names the page class it opens (platform::openController(detail)).
#pragma once

#include <string>
#include <string_view>

#include "platform/preferences/settings_app.h"
#include "shared/schema.h"

namespace vantrel::prefs {

inline constexpr char kMainPageClass[] = "VantrelListController";
inline constexpr char kIconTesterPageClass[] = "IconTesterController";
inline constexpr char kDataFakerPageClass[] = "DataFakerController";

// The page class of a page name (fileName: "main", "icontester", "datafaker"); nullptr for any
// other name.
inline const char* pageClassName(std::string_view page) {
    auto file = fileNamed(page);
    if (!file) return nullptr;
    switch (*file) {
    case PreferenceFile::IconTester: return kIconTesterPageClass;
    case PreferenceFile::DataFaker: return kDataFakerPageClass;
    case PreferenceFile::Main: break;
    }
    return kMainPageClass;
}

// A new page, created as the Settings application creates it; nullptr for an unknown name or
// before the bundle is loaded. Leave it with platform::leaveController.
inline id openPage(std::string_view page) {
    const char* cls = pageClassName(page);
    return cls ? platform::openController(cls) : nullptr;
}

// Registers VantrelListController, IconTesterController and DataFakerController with their
// methods, their specifier files looked up in bundlePath. Idempotent; the last path holds.
void registerPageClasses(const std::string& bundlePath);

}  // namespace vantrel::prefs
