// What the Settings application does with a page, for the Settings host and tests: open a page
// class by name, list its rows with the value each control shows, change a value, press a
// button, send the application to the background, leave the page. Every call goes through
// the runtime by selector, as the framework's own calls do. A page returned by openController
// is owned by the caller until leaveController frees it. Main thread.
#pragma once

#include <string>
#include <vector>

#include "platform/preferences/preferences.h"

namespace platform {

// One row of a page, as the Settings application draws it.
struct SpecifierRow {
    PSSpecifier* specifier = nullptr;  // owned by the page
    std::string label;
    std::string cell;    // "PSSwitchCell", "PSLinkListCell", "PSButtonCell", "PSLinkCell", "PSGroupCell"...
    std::string key;     // "" for rows without a setting
    PSValue value;       // readPreferenceValue: for rows with a key
    std::string action;  // selector of a button, or ""
    std::string detail;  // page class a link opens, or ""
    Array validValues;
    std::vector<std::string> validTitles;
};

// alloc + initForContentSize:, then viewDidAppear:. nullptr when the class is unknown or refuses.
id openController(const std::string& className, CGSize size = {320, 480});
// `specifiers` of the page, each with the value its control shows now.
std::vector<SpecifierRow> controllerRows(id controller);
// The row whose "key" is key, or nullptr.
PSSpecifier* specifierForKey(id controller, const std::string& key);
// The row whose "action" is action (first one), or nullptr.
PSSpecifier* specifierForAction(id controller, const std::string& action);
// The user changed a control: setPreferenceValue:specifier:.
void setControllerValue(id controller, PSSpecifier* specifier, PSValue value);
// The user pressed a button row: its "action" sent to its target with the specifier. False when
// the row has no action or the target does not answer it.
bool performAction(id controller, PSSpecifier* specifier);
// The Settings application goes to the background: suspend.
void suspendController(id controller);
// The user leaves the page: viewWillDisappear:, then dealloc. The page is gone afterwards.
void leaveController(id controller);

}  // namespace platform
