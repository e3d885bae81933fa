// The Preferences framework of the Settings application: PSListController, the base of every
// settings page, and PSSpecifier, one row of a page, loaded from a bundle's specifier file in
// the PreferenceLoader format ("items": dictionaries with "cell", "label", "key", "default",
// "negate", "action", "detail", "validValues", "validTitles"). Pages are runtime classes whose
// instances are C++ objects made by their class method "alloc" and freed by the framework's
// `dealloc`; a page owns its specifiers. Missing files or classes are logged and give empty
// results, never a crash. Main thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/runtime/runtime.h"
#include "platform/uikit/alert.h"

namespace platform {

struct CGSize {
    double width = 0, height = 0;
};

// A control's value; nullopt is the null the framework passes when a value is removed.
using PSValue = std::optional<Value>;

struct PSSpecifier : objc_object {
    Dictionary properties;  // the specifier file's item, plus what setProperty:forKey: adds
    id target = nullptr;    // the page the actions go to; not owned

    // propertyForKey: nullptr when absent.
    const Value* propertyForKey(const std::string& key) const { return lookup(properties, key); }
    void setProperty(Value value, const std::string& key) { properties[key] = std::move(value); }
    // A string property, or "" when absent or not a string.
    std::string stringProperty(const std::string& key) const;
    std::string name() const { return stringProperty("label"); }
    std::string cellType() const { return stringProperty("cell"); }
};
using PSSpecifierList = std::vector<std::shared_ptr<PSSpecifier>>;

// Hands the button presses of a page's dialogs to the page's own
// alertView:clickedButtonAtIndex: (signature void(UIAlertView*, long)) through the runtime.
struct PSAlertDelegate : UIAlertViewDelegate {
    id owner = nullptr;
    void alertView_clickedButtonAtIndex(UIAlertView& alertView, long buttonIndex) override;
};

struct PSListController : objc_object {
    PSSpecifierList _specifiers;
    CGSize contentSize;
    PSAlertDelegate alertDelegate;                 // the delegate a page gives its alert views
    void (*destroy)(PSListController*) = nullptr;  // set by alloc, called by dealloc
};

// Method signatures of PSListController, for subclasses and callers:
//   alloc (class)                         id()
//   initForContentSize:                   id(CGSize)            null when refused
//   specifiers                            PSSpecifierList()
//   loadSpecifiersFromPlistName:target:   PSSpecifierList(std::string, id)
//   readPreferenceValue:                  PSValue(PSSpecifier*)
//   setPreferenceValue:specifier:         void(PSValue, PSSpecifier*)
//   viewDidAppear:, viewWillDisappear:    void(bool)
//   suspend, dealloc                      void()
//   an action named by a specifier        void(id sender)       the specifier itself
//   alertView:clickedButtonAtIndex:       void(UIAlertView*, long)

// Registers NSObject, PSSpecifier and PSListController with the framework's methods. Idempotent.
Class registerPreferencesClasses();

namespace detail {
template <class T>
id allocPage(id cls, SEL) {
    auto* page = new T();
    page->isa = reinterpret_cast<Class>(cls);
    page->destroy = [](PSListController* p) { delete static_cast<T*>(p); };
    page->alertDelegate.owner = page;
    return page;
}
}  // namespace detail

// Registers a page class whose instances are T (derived from PSListController) under `name`,
// a subclass of PSListController, with a class method "alloc" that makes one.
template <class T>
Class registerListControllerClass(const char* name) {
    Class base = registerPreferencesClasses();
    Class cls = objc_registerClass(name, base);
    class_addMethod(object_getClass(classAsObject(cls)), sel_registerName("alloc"), runtime::imp<id>(&detail::allocPage<T>),
                    "@@:");
    return cls;
}

// NSBundle bundleForClass: the folder of the bundle that brought a class (inherited by
// subclasses). The loader of a bundle sets it; "" when unknown.
void setBundlePathForClass(Class cls, const std::string& bundlePath);
std::string bundlePathForClass(Class cls);

// The specifiers of a specifier file, with `target` as their target; empty (and logged) when
// the file is missing, unreadable or holds no "items" array. Items that are not dictionaries
// are skipped.
PSSpecifierList loadSpecifiersFromFile(const std::string& path, id target);

}  // namespace platform
