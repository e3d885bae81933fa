#include "prefs/page.h"

#include "platform/foundation/log.h"
#include "prefs/pages.h"

namespace vantrel::prefs {

SEL S(const char* name) { return sel_registerName(name); }
SettingsPage* settingsPage(id self) { return static_cast<SettingsPage*>(static_cast<platform::PSListController*>(self)); }

std::optional<int> mainPageCode(const std::string& key) { return itemCodeForKey(PreferenceFile::Main, key); }
std::optional<int> iconTesterCode(const std::string& key) { return itemCodeForKey(PreferenceFile::IconTester, key); }
std::optional<int> dataFakerCode(const std::string& key) { return itemCodeForKey(PreferenceFile::DataFaker, key); }

void loadSettings(SettingsPage* page, const PageInfo& info) {
    page->info = &info;
    page->lastSeen = platform::fileIdentity(preferencePath(info.file));
    page->_settings = readPreferencesForUpdate(info.file);
}

void reloadIfReplaced(SettingsPage* page) {
    auto now = platform::fileIdentity(preferencePath(page->info->file));
    if (!now || now == page->lastSeen) return;  // unchanged, or vanished: the save decides
    if (auto fresh = readPreferences(page->info->file)) {
        page->_settings = std::move(*fresh);
        page->lastSeen = now;
    }
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
    if (value) page->_settings[key] = std::move(*value);
    else page->_settings.erase(key);
    page->pending.insert(key);
}

bool saveSettings(SettingsPage* page) {
    PreferenceFile file = page->info->file;
    std::string path = preferencePath(file);
    // Under the file's lock nobody writes between the look at the file and the write, so a
    // value the tweak stored meanwhile is taken in, and the page's own changes go over it.
    PreferenceLock lock(file);
    bool existed = platform::fileExists(path);
    if (!existed) {
        // A file deleted while the page is open comes back as the defaults; the next save after
        // that writes the page's own settings again.
        writePreferences(file, defaultPreferences(file));
        page->lastSeen = platform::fileIdentity(path);
        return false;
    }
    auto now = platform::fileIdentity(path);
    if (now != page->lastSeen) {
        if (auto fresh = readPreferences(file)) {
            for (const auto& key : page->pending) {
                const Value* mine = platform::lookup(page->_settings, key);
                if (mine) (*fresh)[key] = *mine;
                else fresh->erase(key);
            }
            page->_settings = std::move(*fresh);
        }
    }
    writePreferences(file, page->_settings);
    page->pending.clear();
    page->lastSeen = platform::fileIdentity(path);
    return true;
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
