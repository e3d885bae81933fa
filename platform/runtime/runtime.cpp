#include "platform/runtime/runtime.h"

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "platform/foundation/log.h"

struct objc_selector {
    std::string name;
};

struct objc_class : objc_object {
    std::string name;
    Class superclass = nullptr;
    bool isMeta = false;
    struct Method {
        IMP imp;
        std::string types;
    };
    std::unordered_map<SEL, Method> methods;
    std::vector<SEL> order;
    std::vector<std::unique_ptr<objc_ivar>> ivars;
};

namespace {

struct Tables {
    std::shared_mutex m;
    std::unordered_map<std::string, std::unique_ptr<objc_selector>> selectors;
    std::unordered_map<std::string, std::unique_ptr<objc_class>> classes;
    std::vector<std::unique_ptr<objc_class>> metaclasses;
};

Tables& tables() {
    static Tables* t = new Tables;  // never destroyed: hooks may run during exit
    return *t;
}

}  // namespace

SEL sel_registerName(const char* name) {
    if (!name) return nullptr;
    auto& t = tables();
    {
        std::shared_lock lock(t.m);
        auto it = t.selectors.find(name);
        if (it != t.selectors.end()) return it->second.get();
    }
    std::unique_lock lock(t.m);
    auto& slot = t.selectors[name];
    if (!slot) slot = std::make_unique<objc_selector>(objc_selector{name});
    return slot.get();
}

const char* sel_getName(SEL sel) { return sel ? sel->name.c_str() : "<null selector>"; }

Class objc_registerClass(const char* name, Class superclass) {
    auto& t = tables();
    std::unique_lock lock(t.m);
    auto& slot = t.classes[name];
    if (slot) return slot.get();
    auto meta = std::make_unique<objc_class>();
    meta->name = name;
    meta->isMeta = true;
    meta->superclass = superclass ? superclass->isa : nullptr;
    slot = std::make_unique<objc_class>();
    slot->name = name;
    slot->superclass = superclass;
    slot->isa = meta.get();
    t.metaclasses.push_back(std::move(meta));
    return slot.get();
}

Class objc_getClass(const char* name) {
    if (!name) return nullptr;
    auto& t = tables();
    std::shared_lock lock(t.m);
    auto it = t.classes.find(name);
    return it == t.classes.end() ? nullptr : it->second.get();
}

Class object_getClass(id object) { return object ? object->isa : nullptr; }
Class class_getSuperclass(Class cls) { return cls ? cls->superclass : nullptr; }
const char* class_getName(Class cls) { return cls ? cls->name.c_str() : "nil"; }

bool class_addMethod(Class cls, SEL sel, IMP imp, const char* types) {
    if (!cls || !sel || !imp) return false;
    auto& t = tables();
    std::unique_lock lock(t.m);
    if (cls->methods.count(sel)) return false;
    cls->methods.emplace(sel, objc_class::Method{imp, types ? types : ""});
    cls->order.push_back(sel);
    return true;
}

std::vector<MethodDescription> class_copyMethodList(Class cls) {
    std::vector<MethodDescription> out;
    if (!cls) return out;
    auto& t = tables();
    std::shared_lock lock(t.m);
    for (SEL s : cls->order) out.push_back({s->name, cls->methods.at(s).types});
    return out;
}

namespace {
const objc_class::Method* findMethod(Class cls, SEL sel) {
    for (Class c = cls; c; c = c->superclass) {
        auto it = c->methods.find(sel);
        if (it != c->methods.end()) return &it->second;
    }
    return nullptr;
}
}  // namespace

std::string method_getTypeEncoding(Class cls, SEL sel) {
    auto& t = tables();
    std::shared_lock lock(t.m);
    auto m = findMethod(cls, sel);
    return m ? m->types : std::string();
}

bool class_respondsToSelector(Class cls, SEL sel) {
    auto& t = tables();
    std::shared_lock lock(t.m);
    return findMethod(cls, sel) != nullptr;
}

IMP class_getMethodImplementation(Class cls, SEL sel) {
    auto& t = tables();
    std::shared_lock lock(t.m);
    auto m = findMethod(cls, sel);
    return m ? m->imp : IMP{};
}

void MSHookMessageEx(Class cls, SEL sel, IMP replacement, IMP* result) {
    if (result) *result = IMP{};
    if (!cls || !sel || !replacement) {
        NSLog("MSHookMessageEx: nothing to hook for %s on %s", sel_getName(sel), class_getName(cls));
        return;
    }
    auto& t = tables();
    std::unique_lock lock(t.m);
    auto own = cls->methods.find(sel);
    if (own != cls->methods.end()) {
        if (result) *result = own->second.imp;
        own->second.imp = replacement;
        return;
    }
    const objc_class::Method* inherited = findMethod(cls->superclass, sel);
    if (!inherited) {
        NSLog("MSHookMessageEx: %s does not respond to %s", cls->name.c_str(), sel->name.c_str());
        return;
    }
    // Hooking an inherited method adds it to this class alone; the previous implementation is
    // whatever the superclass answers at the time of the call.
    cls->methods.emplace(sel, objc_class::Method{replacement, inherited->types});
    cls->order.push_back(sel);
    if (result) *result = IMP{nullptr, nullptr, cls->superclass};
}

bool class_addIvar(Class cls, const char* name, std::ptrdiff_t offset, const char* type) {
    if (!cls || !name) return false;
    auto& t = tables();
    std::unique_lock lock(t.m);
    for (auto& iv : cls->ivars)
        if (iv->name == name) return false;
    cls->ivars.push_back(std::make_unique<objc_ivar>(objc_ivar{name, offset, type ? type : ""}));
    return true;
}

Ivar class_getInstanceVariable(Class cls, const char* name) {
    if (!name) return nullptr;
    auto& t = tables();
    std::shared_lock lock(t.m);
    for (Class c = cls; c; c = c->superclass)
        for (auto& iv : c->ivars)
            if (iv->name == name) return iv.get();
    return nullptr;
}

std::ptrdiff_t ivar_getOffset(Ivar ivar) { return ivar ? ivar->offset : 0; }

namespace runtime {

void logUnrecognized(id self, SEL sel) {
    Class cls = object_getClass(self);
    NSLog("%c[%s %s]: unrecognized selector sent to %p", cls && cls->isMeta ? '+' : '-', class_getName(cls), sel_getName(sel),
          static_cast<void*>(self));
}

void logMismatch(id self, SEL sel) {
    Class cls = object_getClass(self);
    NSLog("%c[%s %s]: sent with the wrong argument or result types; ignored", cls && cls->isMeta ? '+' : '-', class_getName(cls),
          sel_getName(sel));
}

IMP lookup(Class cls, SEL sel) { return class_getMethodImplementation(cls, sel); }

IMP resolve(const IMP& imp, SEL sel) {
    if (imp.fn || !imp.lookupFrom) return imp;
    return lookup(imp.lookupFrom, sel);
}

}  // namespace runtime
