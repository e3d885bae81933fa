// The three settings pages: their instance layouts and the value rules they share. A page owns
// one in-memory dictionary of its preference file for its whole life and writes the whole of it
// after each change; before a change it takes the file again when someone else (the tweak's
// gesture or first unlock) replaced it since the page last read or wrote it. Main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/foundation/file.h"
#include "platform/preferences/preferences.h"
#include "platform/system/audio.h"
#include "platform/uikit/alert.h"
#include "shared/settings.h"

namespace vantrel::prefs {

using platform::PSSpecifier;
using platform::PSValue;

struct PageInfo {
    PreferenceFile file;
    const char* specifierFile;
    std::optional<int> (*codeForKey)(const std::string& key);
};

struct SettingsPage : platform::PSListController {
    Dictionary _settings;
    const PageInfo* info = nullptr;
    std::optional<platform::FileIdentity> lastSeen;  // the file as this page last read or wrote it
    std::set<std::string> pending;  // keys this page changed since it last wrote the file
};

struct VantrelListController : SettingsPage {
    int32_t timeinNC = 0;
    std::unique_ptr<platform::AVAudioPlayer> audioPlayer;
    std::shared_ptr<platform::UIAlertView> carrierAlertView;
    std::shared_ptr<platform::UIAlertView> timeAlertView;
    std::shared_ptr<platform::UIAlertView> reverseStringView;
    std::shared_ptr<platform::UIAlertView> respringAlertView;
    id _carrierTextButton = nullptr;  // kept for its accessors; nothing uses it
};

struct IconTesterController : SettingsPage {};
struct DataFakerController : SettingsPage {};

// Whether the tweak is running a clock text animation loop; false whenever the bundle loads.
extern bool isAnimationRunning;
void animationChangedCallback(CFNotificationCenterRef center, void* observer, const std::string& name,
                              const void* object, const Dictionary* userInfo);

// Item codes after a stored value, from the key table; nullopt: the key posts nothing.
std::optional<int> mainPageCode(const std::string& key);
std::optional<int> iconTesterCode(const std::string& key);
std::optional<int> dataFakerCode(const std::string& key);

SettingsPage* settingsPage(id self);
SEL S(const char* name);

// Reads the page's file (its defaults when unreadable) and remembers the file's identity.
void loadSettings(SettingsPage* page, const PageInfo& info);
// Takes the file again when it was replaced behind the page's back and can be read.
void reloadIfReplaced(SettingsPage* page);
// One key changed by the page (nullopt removes it): the file is taken again first when it was
// replaced, and the key is remembered until the next save.
void setPageValue(SettingsPage* page, const std::string& key, PSValue value);
// readPreferenceValue: on the page's dictionary.
PSValue readValue(const SettingsPage* page, const PSSpecifier* specifier);
// Stores a control's value ("negate" applied, null removes); the key, or nullopt without one.
std::optional<std::string> storeValue(SettingsPage* page, PSValue value, const PSSpecifier* specifier);
// writeSettings: the dictionary, or the defaults when the file has vanished. True when the
// file existed before the write.
bool saveSettings(SettingsPage* page);
// notifySettings: "vantrel.SettingsChanged" with the given userInfo.
void notifySettings(const Dictionary& userInfo);

// Calls PSListController's own implementation (what [super ...] reaches for every page).
template <class R, class... A>
R callSuper(id self, SEL sel, A... args) {
    return callImp<R, A...>(class_getMethodImplementation(objc_getClass("PSListController"), sel), self, sel, args...);
}

// The methods of each page class, added to the runtime's tables.
void registerMainPage(Class cls);
void registerMainPageDialogs(Class cls);  // the dialogs, links and restart of the main page
VantrelListController* mainPage(id self);
void registerIconTesterPage(Class cls);
void registerDataFakerPage(Class cls);

}  // namespace vantrel::prefs
