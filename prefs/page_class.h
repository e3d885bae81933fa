// The methods every settings page class answers, written once for the three pages. A page's
// traits give its file (info) and the hooks it runs on top of the shared rules: after its file
// is read and after creation, after a stored value is written and announced, after each save,
// on leaving (viewWillDisappear:, only where the traits have `leave`) and on suspension. The
// hooks get the page as the runtime's id. Registering adds the methods to the class. Main thread.
#pragma once

#include <string>
#include <utility>

#include "prefs/page.h"

namespace vantrel::prefs {

// The hooks of a page that adds nothing; traits derive from it and hide what they change.
struct PageHooks {
    static void loaded(id) {}                      // the file is read, before the first save
    static void created(id) {}                     // the first save is done, the page is ready
    static void specifiersLoading() {}             // the specifier file is about to be read
    static void stored(id, const std::string&) {}  // a changed value is in the file, its code posted
    static void saved(Saved) {}                    // a save wrote the settings or the defaults
    static void suspended(id) {}                   // the save on suspension is done
    // static void leave(id): a page that has it answers viewWillDisappear: with it, and does not
    // pass the call on to the framework.
};

template <class P>
concept LeaveHook = requires(id page) {
    P::leave(page);
};

namespace pageMethods {

template <class P>
id initForContentSize_(id self, SEL sel, platform::CGSize size) {
    id page = callSuper<id>(self, sel, size);
    if (!page) return nullptr;
    loadSettings(settingsPage(page), P::info);
    P::loaded(page);
    msgSend<bool>(page, S("writeSettings"));  // the file exists from now on
    P::created(page);
    return page;
}

template <class P>
platform::PSSpecifierList specifiers(id self, SEL) {
    auto* page = settingsPage(self);
    if (page->_specifiers.empty()) {
        P::specifiersLoading();
        page->_specifiers = msgSend<platform::PSSpecifierList>(self, S("loadSpecifiersFromPlistName:target:"),
                                                               std::string(P::info.specifierFile), self);
    }
    return page->_specifiers;
}

template <class P>
void setPreferenceValue_specifier_(id self, SEL, PSValue value, PSSpecifier* specifier) {
    auto key = storeValue(settingsPage(self), std::move(value), specifier);
    if (!key) return;
    // The tweak reads the file when the code arrives: a change that is not in it is not announced.
    if (!msgSend<bool>(self, S("writeSettings"))) return;
    if (auto code = P::info.codeForKey(*key)) msgSend<void>(self, S("notifySettings:"), Dictionary{{kItemToggledKey, *code}});
    P::stored(self, *key);
}

template <class P>
bool writeSettings(id self, SEL) {
    Saved saved = saveSettings(settingsPage(self));
    if (saved == Saved::Nothing) return false;  // no word of a save that did not happen
    P::saved(saved);
    return true;
}

template <class P>
void viewWillDisappear_(id self, SEL, bool) {
    P::leave(self);
}

template <class P>
void suspend(id self, SEL) {
    msgSend<bool>(self, S("writeSettings"));
    P::suspended(self);
}

inline bool sendSettings(id self, SEL) { return msgSend<bool>(self, S("writeSettings")); }
// NOLINTNEXTLINE(performance-unnecessary-value-param): an IMP takes its arguments as callers pass them
inline void notifySettings_(id, SEL, Dictionary userInfo) { notifySettings(userInfo); }
inline PSValue readPreferenceValue_(id self, SEL, PSSpecifier* specifier) { return readValue(settingsPage(self), specifier); }
inline std::string takeSaveFailure_(id self, SEL) { return takeSaveFailure(settingsPage(self)); }
inline void discardUnsavedChanges(id self, SEL) { discardUnsaved(settingsPage(self)); }
inline Dictionary settings(id self, SEL) { return settingsPage(self)->_settings; }
inline void setSettings_(id self, SEL, Dictionary settings) { settingsPage(self)->_settings = std::move(settings); }

inline void dealloc(id self, SEL sel) {
    msgSend<bool>(self, S("writeSettings"));
    settingsPage(self)->_settings.clear();
    callSuper<void>(self, sel);
}

}  // namespace pageMethods

// Adds the shared methods of page P to cls; the runtime keeps a class's first method of a name.
template <class P>
void registerPage(Class cls) {
    using runtime::imp;
    namespace m = pageMethods;
    class_addMethod(cls, S("initForContentSize:"), imp<id, platform::CGSize>(m::initForContentSize_<P>), "@@:{CGSize=dd}");
    class_addMethod(cls, S("specifiers"), imp<platform::PSSpecifierList>(m::specifiers<P>), "@@:");
    class_addMethod(cls, S("notifySettings:"), imp<void, Dictionary>(m::notifySettings_), "v@:@");
    class_addMethod(cls, S("setPreferenceValue:specifier:"),
                    imp<void, PSValue, PSSpecifier*>(m::setPreferenceValue_specifier_<P>), "v@:@@");
    class_addMethod(cls, S("readPreferenceValue:"), imp<PSValue, PSSpecifier*>(m::readPreferenceValue_), "@@:@");
    class_addMethod(cls, S("writeSettings"), imp<bool>(m::writeSettings<P>), "c@:");
    if constexpr (LeaveHook<P>) class_addMethod(cls, S("viewWillDisappear:"), imp<void, bool>(m::viewWillDisappear_<P>), "v@:c");
    class_addMethod(cls, S("sendSettings"), imp<bool>(m::sendSettings), "c@:");
    class_addMethod(cls, S("suspend"), imp<void>(m::suspend<P>), "v@:");
    class_addMethod(cls, S("takeSaveFailure"), imp<std::string>(m::takeSaveFailure_), "@@:");
    class_addMethod(cls, S("discardUnsavedChanges"), imp<void>(m::discardUnsavedChanges), "v@:");
    class_addMethod(cls, S("dealloc"), imp<void>(m::dealloc), "v@:");
    class_addMethod(cls, S("settings"), imp<Dictionary>(m::settings), "@@:");
    class_addMethod(cls, S("setSettings:"), imp<void, Dictionary>(m::setSettings_), "v@:@");
}

}  // namespace vantrel::prefs
