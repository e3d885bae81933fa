// The object runtime and Substrate, as the tweak and SpringBoard use them: classes by name with
// a superclass and a metaclass, interned selectors, per-class method tables with type encodings,
// instance variables by name, MSHookMessageEx, and typed message sending. Every method records
// its C++ signature, and a send whose argument or result types differ is refused, logged and
// answered with a value-initialised result instead of undefined behaviour. A missing class or
// method is logged and skipped, never a crash. Objects are owned by whoever created them (the
// runtime owns classes). Thread-safe; the tables are meant to be filled at start-up.
#pragma once

#include <cstddef>
#include <string>
#include <typeinfo>
#include <vector>

struct objc_class;
using Class = objc_class*;

struct objc_object {
    Class isa = nullptr;
};
using id = objc_object*;

struct objc_selector;
using SEL = const objc_selector*;

// An implementation: a function taking (id, SEL, args...) with its signature, or, for the
// previous implementation of a method the hooked class only inherited, a marker that looks the
// method up on the superclass at call time.
struct IMP {
    void (*fn)() = nullptr;
    const std::type_info* signature = nullptr;
    Class lookupFrom = nullptr;  // set: dispatch through this class's table when called
    explicit operator bool() const { return fn || lookupFrom; }
};

struct objc_ivar {
    std::string name;
    std::ptrdiff_t offset;
    std::string type;
};
using Ivar = const objc_ivar*;

struct MethodDescription {
    std::string selector;
    std::string types;
};

SEL sel_registerName(const char* name);
const char* sel_getName(SEL sel);

// Registers a class (and its metaclass); an existing class of that name is returned unchanged.
Class objc_registerClass(const char* name, Class superclass);
Class objc_getClass(const char* name);  // nullptr when there is none
Class object_getClass(id object);
Class class_getSuperclass(Class cls);
const char* class_getName(Class cls);
inline id classAsObject(Class cls) { return reinterpret_cast<id>(cls); }

// Adds a method the class does not define itself; false when it does (the runtime's rule).
bool class_addMethod(Class cls, SEL sel, IMP imp, const char* types);
// Methods the class defines itself, in the order they were added.
std::vector<MethodDescription> class_copyMethodList(Class cls);
// The type encoding of the method the class answers with, or empty.
std::string method_getTypeEncoding(Class cls, SEL sel);
bool class_respondsToSelector(Class cls, SEL sel);
// The implementation a send would reach (the class's own, else its superclass's), or empty.
IMP class_getMethodImplementation(Class cls, SEL sel);

// Replaces the method sel of cls and stores what a call reached before in *result. When cls
// only inherits the method, the replacement is added to cls alone and *result looks the method
// up on the superclass at call time, so the superclass itself is never touched.
void MSHookMessageEx(Class cls, SEL sel, IMP replacement, IMP* result);

bool class_addIvar(Class cls, const char* name, std::ptrdiff_t offset, const char* type);
Ivar class_getInstanceVariable(Class cls, const char* name);
std::ptrdiff_t ivar_getOffset(Ivar ivar);

namespace runtime {

void logUnrecognized(id self, SEL sel);
void logMismatch(id self, SEL sel);
IMP lookup(Class cls, SEL sel);        // walks the superclass chain
IMP resolve(const IMP& imp, SEL sel);  // a superclass-lookup marker into the method it reaches

template <class R, class... A>
using Fn = R (*)(id, SEL, A...);

template <class R, class... A>
IMP imp(Fn<R, A...> fn) {
    return IMP{reinterpret_cast<void (*)()>(fn), &typeid(Fn<R, A...>), nullptr};
}

template <class R, class... A>
R invoke(const IMP& found, id self, SEL sel, A... args) {
    if (!found.fn) {
        logUnrecognized(self, sel);
        return R();
    }
    if (!found.signature || *found.signature != typeid(Fn<R, A...>)) {
        logMismatch(self, sel);
        return R();
    }
    return reinterpret_cast<Fn<R, A...>>(found.fn)(self, sel, args...);
}

}  // namespace runtime

// objc_msgSend with the result and argument types spelled out by the caller.
template <class R, class... A>
R msgSend(id self, SEL sel, A... args) {
    if (!self) return R();  // a message to nil answers nothing
    return runtime::invoke<R, A...>(runtime::lookup(object_getClass(self), sel), self, sel, args...);
}

// Calls a previous implementation kept by MSHookMessageEx.
template <class R, class... A>
R callImp(const IMP& imp, id self, SEL sel, A... args) {
    if (!self) return R();
    return runtime::invoke<R, A...>(runtime::resolve(imp, sel), self, sel, args...);
}

template <class T>
T* ivarPointer(id object, Ivar ivar) {
    return reinterpret_cast<T*>(reinterpret_cast<char*>(object) + ivar_getOffset(ivar));
}
