// The three settings pages: their instance layouts and the value rules they share. A page owns
// one in-memory dictionary of its preference file for its whole life. Every save goes one way
// (saveSettings): under the file's lock it takes in what someone else (the tweak's gesture or
// first unlock) wrote, puts the page's own changed keys over it and writes. A save that did not
// happen is said to the caller (Saved::Nothing, with the reason kept for the host); the change
// stays pending for the next save. Main thread.
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
    std::optional<platform::FileIdentity> lastSeen;  // the file as this page last took it in
    std::set<std::string> pending;                   // keys this page changed that are not in the file yet
    std::string saveFailure;                         // why a save did not happen, until the host takes it
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

// The main page's dialogs by tag: the delegate tells them apart by it.
enum DialogTag : long { CarrierTag = 1, TimeTag = 2, RespringTag = 3, ThanksTag = 4, ReverseTag = 5 };

// Whether the tweak is running a clock text animation loop; false whenever the bundle loads.
extern bool isAnimationRunning;
void animationChangedCallback(CFNotificationCenterRef center, void* observer, const std::string& name, const void* object,
                              const Dictionary* userInfo);

// Item codes after a stored value, from the key table; nullopt: the key posts nothing.
std::optional<int> mainPageCode(const std::string& key);
std::optional<int> iconTesterCode(const std::string& key);
std::optional<int> dataFakerCode(const std::string& key);

SettingsPage* settingsPage(id self);
SEL S(const char* name);

// Reads the page's file (its defaults when unreadable) and remembers the file's identity.
void loadSettings(SettingsPage* page, const PageInfo& info);
// One key changed by the page (nullopt removes it), remembered until a save writes it.
void setPageValue(SettingsPage* page, const std::string& key, PSValue value);
// readPreferenceValue: on the page's dictionary.
PSValue readValue(const SettingsPage* page, const PSSpecifier* specifier);
// Stores a control's value ("negate" applied, null removes); the key, or nullopt without one.
std::optional<std::string> storeValue(SettingsPage* page, PSValue value, const PSSpecifier* specifier);

// What writeSettings did: the page's settings are in the file, the file had vanished and holds
// the defaults now (the settings follow with the next save), or nothing was written.
enum class Saved { Settings, Defaults, Nothing };
// writeSettings, the one way every page saves. On Saved::Nothing page->saveFailure names the
// file and the reason (lock held by a stopped peer, disk full, read-only folder).
Saved saveSettings(SettingsPage* page);
// The first failure of a save since the last call, or "" when every save wrote. The pages
// answer it as the method "takeSaveFailure", which the Settings host asks after a change.
std::string takeSaveFailure(SettingsPage* page);
// For a host that told its user a change was not saved: the page forgets its unsaved changes
// and shows the file as it is, so that no later save writes what the user was told was dropped.
void discardUnsaved(SettingsPage* page);
// notifySettings: "vantrel.SettingsChanged" with the given userInfo.
void notifySettings(const Dictionary& userInfo);

// Calls PSListController's own implementation (what [super ...] reaches for every page).
template <class R, class... A>
R callSuper(id self, SEL sel, A... args) {
    return callImp<R, A...>(class_getMethodImplementation(objc_getClass("PSListController"), sel), self, sel, args...);
}

// The methods of each page class, added to the runtime's tables: the shared ones of
// page_class.h with the page's hooks, then what the page has of its own.
void registerMainPage(Class cls);
void registerMainPageDialogs(Class cls);  // the dialogs, links and restart of the main page
VantrelListController* mainPage(id self);
void registerIconTesterPage(Class cls);
void registerDataFakerPage(Class cls);

}  // namespace vantrel::prefs
