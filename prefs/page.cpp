#include "prefs/page.h"

#include <utility>

#include "platform/foundation/log.h"
#include "prefs/pages.h"

namespace vantrel::prefs {

SEL S(const char* name) { return sel_registerName(name); }
SettingsPage* settingsPage(id self) { return static_cast<SettingsPage*>(static_cast<platform::PSListController*>(self)); }

std::optional<int> mainPageCode(const std::string& key) { return itemCodeForKey(PreferenceFile::Main, key); }
std::optional<int> iconTesterCode(const std::string& key) { return itemCodeForKey(PreferenceFile::IconTester, key); }
std::optional<int> dataFakerCode(const std::string& key) { return itemCodeForKey(PreferenceFile::DataFaker, key); }

namespace {

// The file's dictionary with the page's pending changes over it.
void takeIn(SettingsPage* page, Dictionary fresh) {
    for (const auto& key : page->pending) {
        const Value* mine = platform::lookup(page->_settings, key);
        if (mine)
            fresh[key] = *mine;
        else
            fresh.erase(key);
    }
    page->_settings = std::move(fresh);
}

Saved failed(SettingsPage* page, const std::string& why) {
    if (page->saveFailure.empty()) page->saveFailure = why;  // the first one names the change
    return Saved::Nothing;
}

// Takes the file in when it was replaced behind the page's back and can be read; the page's
// pending changes stay over it.
void reloadIfReplaced(SettingsPage* page) {
    auto now = platform::fileIdentity(preferencePath(page->info->file));
    if (!now || now == page->lastSeen) return;  // unchanged, or vanished: the save decides
    if (auto fresh = readPreferences(page->info->file)) {
        takeIn(page, std::move(*fresh));
        page->lastSeen = now;
    }
}

}  // namespace

void loadSettings(SettingsPage* page, const PageInfo& info) {
    page->info = &info;
    page->pending.clear();
    auto seen = platform::fileIdentity(preferencePath(info.file));
    auto prefs = readPreferences(info.file);
    page->lastSeen = prefs ? seen : std::nullopt;
    page->_settings = prefs ? std::move(*prefs) : defaultPreferences(info.file);
}

PSValue readValue(const SettingsPage* page, const PSSpecifier* specifier) {
    if (!specifier) return std::nullopt;
    const Value* key = specifier->propertyForKey("key");
    const Value* stored = key && key->string() ? platform::lookup(page->_settings, *key->string()) : nullptr;
    if (!stored) {
        const Value* fallback = specifier->propertyForKey("default");
        return fallback ? PSValue(*fallback) : std::nullopt;
    }
    if (boolValue(specifier->propertyForKey("negate"))) return Value(!boolValue(stored));
    return *stored;
}

std::optional<std::string> storeValue(SettingsPage* page, PSValue value, const PSSpecifier* specifier) {
    const Value* key = specifier ? specifier->propertyForKey("key") : nullptr;
    if (!key || !key->string()) {
        NSLog("A control without a key changed; nothing stored");
        return std::nullopt;
    }
    if (boolValue(specifier->propertyForKey("negate"))) value = Value(!(value && boolValue(&*value)));
    setPageValue(page, *key->string(), std::move(value));
    return *key->string();
}

void setPageValue(SettingsPage* page, const std::string& key, PSValue value) {
    reloadIfReplaced(page);
    if (value)
        page->_settings[key] = std::move(*value);
    else
        page->_settings.erase(key);
    page->pending.insert(key);
}

Saved saveSettings(SettingsPage* page) {
    PreferenceFile file = page->info->file;
    std::string path = preferencePath(file);
    if (page->pending.empty()) {
        // Nothing of the page's own is missing from a readable file: writing would only put the
        // page's older view over someone else's newer values, so the page takes the file in.
        auto seen = platform::fileIdentity(path);
        if (auto fresh = readPreferences(file)) {
            page->_settings = std::move(*fresh);
            page->lastSeen = seen;
            return Saved::Settings;
        }
    }
    // Under the file's lock nobody writes between the look at the file and the write, so a
    // value the tweak stored meanwhile is taken in, and the page's own changes go over it.
    PreferenceLock lock(file);
    if (!lock.held()) return failed(page, lock.failure());
    if (!platform::fileExists(path)) {
        // A file deleted while the page is open comes back as the defaults; the next save writes
        // the page's own settings again.
        if (auto written = writePreferences(lock, defaultPreferences(file)); !written) return failed(page, written.failure);
        for (const auto& entry : page->_settings) page->pending.insert(entry.first);
        page->lastSeen = platform::fileIdentity(path);
        return Saved::Defaults;
    }
    if (auto fresh = readPreferences(file)) takeIn(page, std::move(*fresh));
    if (auto written = writePreferences(lock, page->_settings); !written) return failed(page, written.failure);
    page->pending.clear();
    page->lastSeen = platform::fileIdentity(path);
    return Saved::Settings;
}

std::string takeSaveFailure(SettingsPage* page) { return std::exchange(page->saveFailure, {}); }

void discardUnsaved(SettingsPage* page) {
    page->saveFailure.clear();
    loadSettings(page, *page->info);
}

void notifySettings(const Dictionary& userInfo) { postNotification(kSettingsChangedNotification, userInfo); }

void registerPageClasses(const std::string& bundlePath) {
    Class main = platform::registerListControllerClass<VantrelListController>(kMainPageClass);
    Class tester = platform::registerListControllerClass<IconTesterController>(kIconTesterPageClass);
    Class faker = platform::registerListControllerClass<DataFakerController>(kDataFakerPageClass);
    // Adding a method twice is refused by the runtime, so registering again changes nothing.
    registerMainPage(main);
    registerIconTesterPage(tester);
    registerDataFakerPage(faker);
    for (Class c : {main, tester, faker}) platform::setBundlePathForClass(c, bundlePath);
}

}  // namespace vantrel::prefs
