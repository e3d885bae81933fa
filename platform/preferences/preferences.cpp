#include "platform/preferences/preferences.h"

#include <map>
#include <mutex>

#include "platform/foundation/file.h"
#include "platform/foundation/log.h"

namespace platform {
namespace {

SEL S(const char* name) { return sel_registerName(name); }
PSListController* page(id self) { return static_cast<PSListController*>(self); }

struct BundlePaths {
    std::mutex m;
    std::map<Class, std::string> paths;
};
BundlePaths& bundlePaths() {
    static BundlePaths b;
    return b;
}

// ---- PSListController

id initForContentSize_(id self, SEL, CGSize size) {
    page(self)->contentSize = size;
    return self;
}

PSSpecifierList specifiers(id self, SEL) { return page(self)->_specifiers; }

// An IMP takes its arguments as the method's callers pass them.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
PSSpecifierList loadSpecifiersFromPlistName_target_(id self, SEL, std::string name, id target) {
    std::string bundle = bundlePathForClass(object_getClass(self));
    if (bundle.empty()) {
        NSLog("No bundle is known for %s", class_getName(object_getClass(self)));
        return {};
    }
    return loadSpecifiersFromFile(bundle + "/" + name + ".plist", target);
}

// Without a page of its own, a control shows its default.
PSValue readPreferenceValue_(id, SEL, PSSpecifier* specifier) {
    if (!specifier) return std::nullopt;
    const Value* d = specifier->propertyForKey("default");
    return d ? PSValue(*d) : std::nullopt;
}

void setPreferenceValue_specifier_(id, SEL, PSValue, PSSpecifier*) {}  // NOLINT(performance-unnecessary-value-param)
void viewDidAppear_(id, SEL, bool) {}
void viewWillDisappear_(id, SEL, bool) {}
void suspend(id, SEL) {}

void dealloc(id self, SEL) {
    auto* p = page(self);
    forgetDelegate(&p->alertDelegate);
    if (p->destroy) p->destroy(p);
}

}  // namespace

std::string PSSpecifier::stringProperty(const std::string& key) const {
    const Value* v = propertyForKey(key);
    return v && v->string() ? *v->string() : std::string();
}

void PSAlertDelegate::alertView_clickedButtonAtIndex(UIAlertView& alertView, long buttonIndex) {
    msgSend<void>(owner, S("alertView:clickedButtonAtIndex:"), &alertView, buttonIndex);
}

Class registerPreferencesClasses() {
    static Class base = [] {
        Class nsobject = objc_registerClass("NSObject", nullptr);
        objc_registerClass("PSSpecifier", nsobject);
        Class c = objc_registerClass("PSListController", nsobject);
        class_addMethod(object_getClass(classAsObject(c)), S("alloc"), runtime::imp<id>(&detail::allocPage<PSListController>),
                        "@@:");
        class_addMethod(c, S("initForContentSize:"), runtime::imp<id, CGSize>(initForContentSize_), "@@:{CGSize=dd}");
        class_addMethod(c, S("specifiers"), runtime::imp<PSSpecifierList>(specifiers), "@@:");
        class_addMethod(c, S("loadSpecifiersFromPlistName:target:"),
                        runtime::imp<PSSpecifierList, std::string, id>(loadSpecifiersFromPlistName_target_), "@@:@@");
        class_addMethod(c, S("readPreferenceValue:"), runtime::imp<PSValue, PSSpecifier*>(readPreferenceValue_), "@@:@");
        class_addMethod(c, S("setPreferenceValue:specifier:"),
                        runtime::imp<void, PSValue, PSSpecifier*>(setPreferenceValue_specifier_), "v@:@@");
        class_addMethod(c, S("viewDidAppear:"), runtime::imp<void, bool>(viewDidAppear_), "v@:c");
        class_addMethod(c, S("viewWillDisappear:"), runtime::imp<void, bool>(viewWillDisappear_), "v@:c");
        class_addMethod(c, S("suspend"), runtime::imp<void>(suspend), "v@:");
        class_addMethod(c, S("dealloc"), runtime::imp<void>(dealloc), "v@:");
        return c;
    }();
    return base;
}

void setBundlePathForClass(Class cls, const std::string& bundlePath) {
    std::lock_guard lock(bundlePaths().m);
    bundlePaths().paths[cls] = bundlePath;
}

std::string bundlePathForClass(Class cls) {
    std::lock_guard lock(bundlePaths().m);
    for (Class c = cls; c; c = class_getSuperclass(c)) {
        auto it = bundlePaths().paths.find(c);
        if (it != bundlePaths().paths.end()) return it->second;
    }
    return {};
}

PSSpecifierList loadSpecifiersFromFile(const std::string& path, id target) {
    auto file = readDictionaryFile(path);
    const Value* items = file ? lookup(*file, "items") : nullptr;
    if (!items || !items->array()) {
        NSLog("No specifiers could be loaded from %s", path.c_str());
        return {};
    }
    Class specifierClass = objc_getClass("PSSpecifier");
    PSSpecifierList list;
    for (const Value& item : *items->array()) {
        if (!item.dictionary()) continue;
        auto s = std::make_shared<PSSpecifier>();
        s->isa = specifierClass;
        s->properties = *item.dictionary();
        s->target = target;
        list.push_back(std::move(s));
    }
    return list;
}

}  // namespace platform
