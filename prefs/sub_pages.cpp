// IconTesterController and DataFakerController: the main page's value rules on their own files,
// with their own codes, and neither listens to any notification.
#include "platform/foundation/log.h"
#include "prefs/page.h"

namespace vantrel::prefs {
namespace {

struct IconTesterPage {
    static constexpr PageInfo info{PreferenceFile::IconTester, "IconTester", iconTesterCode};
    static constexpr bool iconTester = true;
};
struct DataFakerPage {
    static constexpr PageInfo info{PreferenceFile::DataFaker, "DataFaker", dataFakerCode};
    static constexpr bool iconTester = false;
};

template <class P>
id initForContentSize_(id self, SEL sel, platform::CGSize size) {
    id page = callSuper<id>(self, sel, size);
    if (!page) return nullptr;
    loadSettings(settingsPage(page), P::info);
    msgSend<bool>(page, S("writeSettings"));
    return page;
}

template <class P>
platform::PSSpecifierList specifiers(id self, SEL) {
    auto* page = settingsPage(self);
    if (page->_specifiers.empty()) {
        if (!P::iconTester) NSLog("specifiers");
        page->_specifiers = msgSend<platform::PSSpecifierList>(self, S("loadSpecifiersFromPlistName:target:"),
                                                               std::string(P::info.specifierFile), self);
    }
    return page->_specifiers;
}

void notifySettings_(id, SEL, Dictionary userInfo) { notifySettings(userInfo); }

template <class P>
void setPreferenceValue_specifier_(id self, SEL, PSValue value, PSSpecifier* specifier) {
    auto key = storeValue(settingsPage(self), std::move(value), specifier);
    if (!key) return;
    // The tweak reads the file when the code arrives: a change that is not in it is not announced.
    if (!msgSend<bool>(self, S("writeSettings"))) return;
    if (auto code = P::info.codeForKey(*key)) msgSend<void>(self, S("notifySettings:"), Dictionary{{kItemToggledKey, *code}});
}

PSValue readPreferenceValue_(id self, SEL, PSSpecifier* specifier) { return readValue(settingsPage(self), specifier); }

template <class P>
bool writeSettings(id self, SEL) {
    Saved saved = saveSettings(settingsPage(self));
    if (saved == Saved::Nothing) return false;  // no word of a save that did not happen
    if (P::iconTester) NSLog(saved == Saved::Settings ? "Icon Tester - Settings Updated!" : "Icon Tester - Defaults Saved!");
    return true;
}

template <class P>
void viewWillDisappear_(id self, SEL, bool) {
    if (!P::iconTester) return;
    NSLog("viewWillDisappear");
    // The tester stays on when the page is left; the user should know icons will not hide.
    if (boolValue(platform::lookup(settingsPage(self)->_settings, keyName(IconTesterKey::enabletester))))
        platform::UIAlertView::create("Warning:",
                                      "Icon Tester is still Enabled.  Whilst this mode is active, the hiding of icons will not work.",
                                      nullptr, "OK")
            ->show();
}

bool sendSettings(id self, SEL) { return msgSend<bool>(self, S("writeSettings")); }
void suspend(id self, SEL) { msgSend<bool>(self, S("writeSettings")); }
std::string takeSaveFailure_(id self, SEL) { return takeSaveFailure(settingsPage(self)); }

void dealloc(id self, SEL sel) {
    msgSend<bool>(self, S("writeSettings"));
    settingsPage(self)->_settings.clear();
    callSuper<void>(self, sel);
}

Dictionary settings(id self, SEL) { return settingsPage(self)->_settings; }
void setSettings_(id self, SEL, Dictionary settings) { settingsPage(self)->_settings = std::move(settings); }

template <class P>
void registerPage(Class cls) {
    using runtime::imp;
    class_addMethod(cls, S("initForContentSize:"), imp<id, platform::CGSize>(initForContentSize_<P>), "@@:{CGSize=dd}");
    class_addMethod(cls, S("specifiers"), imp<platform::PSSpecifierList>(specifiers<P>), "@@:");
    class_addMethod(cls, S("notifySettings:"), imp<void, Dictionary>(notifySettings_), "v@:@");
    class_addMethod(cls, S("setPreferenceValue:specifier:"),
                    imp<void, PSValue, PSSpecifier*>(setPreferenceValue_specifier_<P>), "v@:@@");
    class_addMethod(cls, S("readPreferenceValue:"), imp<PSValue, PSSpecifier*>(readPreferenceValue_), "@@:@");
    class_addMethod(cls, S("writeSettings"), imp<bool>(writeSettings<P>), "c@:");
    class_addMethod(cls, S("viewWillDisappear:"), imp<void, bool>(viewWillDisappear_<P>), "v@:c");
    class_addMethod(cls, S("sendSettings"), imp<bool>(sendSettings), "c@:");
    class_addMethod(cls, S("suspend"), imp<void>(suspend), "v@:");
    class_addMethod(cls, S("takeSaveFailure"), imp<std::string>(takeSaveFailure_), "@@:");
    class_addMethod(cls, S("dealloc"), imp<void>(dealloc), "v@:");
    class_addMethod(cls, S("settings"), imp<Dictionary>(settings), "@@:");
    class_addMethod(cls, S("setSettings:"), imp<void, Dictionary>(setSettings_), "v@:@");
}

}  // namespace

void registerIconTesterPage(Class cls) { registerPage<IconTesterPage>(cls); }
void registerDataFakerPage(Class cls) { registerPage<DataFakerPage>(cls); }

}  // namespace vantrel::prefs
