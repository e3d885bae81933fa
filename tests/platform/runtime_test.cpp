#include <gtest/gtest.h>

#include <string>

#include "platform/runtime/runtime.h"

namespace {

struct Thing : objc_object {
    int value = 0;
    std::string* label = nullptr;
};

int baseValue(id self, SEL) { return static_cast<Thing*>(self)->value; }
int childValue(id self, SEL) { return static_cast<Thing*>(self)->value * 10; }

IMP firstPrevious, secondPrevious, inheritedPrevious;
int firstHook(id self, SEL cmd) { return callImp<int>(firstPrevious, self, cmd) + 1; }
int secondHook(id self, SEL cmd) { return callImp<int>(secondPrevious, self, cmd) * 2; }
int inheritedHook(id self, SEL cmd) { return callImp<int>(inheritedPrevious, self, cmd) + 100; }
void twoArgs(id self, SEL, int a, bool b) { static_cast<Thing*>(self)->value = b ? a : -a; }

Thing make(Class cls, int v) {
    Thing t;
    t.isa = cls;
    t.value = v;
    return t;
}

}  // namespace

TEST(Runtime, HookChainReachesEachPreviousImplementation) {
    Class cls = objc_registerClass("ChainThing", nullptr);
    SEL s = sel_registerName("value");
    ASSERT_TRUE(class_addMethod(cls, s, runtime::imp<int>(&baseValue), "i@:"));
    EXPECT_FALSE(class_addMethod(cls, s, runtime::imp<int>(&childValue), "i@:"));  // already there
    MSHookMessageEx(cls, s, runtime::imp<int>(&firstHook), &firstPrevious);
    MSHookMessageEx(cls, s, runtime::imp<int>(&secondHook), &secondPrevious);
    Thing t = make(cls, 4);
    EXPECT_EQ(msgSend<int>(&t, s), (4 + 1) * 2);
    EXPECT_EQ(method_getTypeEncoding(cls, s), "i@:");
}

TEST(Runtime, HookingAnInheritedMethodLeavesTheSuperclassAlone) {
    Class base = objc_registerClass("InheritBase", nullptr);
    Class child = objc_registerClass("InheritChild", base);
    SEL s = sel_registerName("value");
    class_addMethod(base, s, runtime::imp<int>(&baseValue), "i@:");
    MSHookMessageEx(child, s, runtime::imp<int>(&inheritedHook), &inheritedPrevious);
    Thing b = make(base, 3), c = make(child, 3);
    EXPECT_EQ(msgSend<int>(&b, s), 3);
    EXPECT_EQ(msgSend<int>(&c, s), 103);
    // The previous implementation looks the superclass up at call time.
    IMP ignored;
    MSHookMessageEx(base, s, runtime::imp<int>(&childValue), &ignored);
    EXPECT_EQ(msgSend<int>(&b, s), 30);
    EXPECT_EQ(msgSend<int>(&c, s), 130);
}

TEST(Runtime, MismatchedOrMissingSendsAreRefusedNotCrashed) {
    Class cls = objc_registerClass("SignatureThing", nullptr);
    SEL set = sel_registerName("setValue:flag:");
    class_addMethod(cls, set, runtime::imp<void, int, bool>(&twoArgs), "v@:ic");
    Thing t = make(cls, 0);
    msgSend<void>(&t, set, 5, true);
    EXPECT_EQ(t.value, 5);
    msgSend<void>(&t, set, 7L, true);  // long is not int: refused
    EXPECT_EQ(t.value, 5);
    EXPECT_EQ(msgSend<int>(&t, set, 1, true), 0);  // wrong result type: refused
    EXPECT_EQ(msgSend<int>(&t, sel_registerName("noSuchMethod")), 0);
    EXPECT_EQ(msgSend<int>(nullptr, set), 0);
    EXPECT_EQ(objc_getClass("NoSuchClass"), nullptr);
    IMP previous{reinterpret_cast<void (*)()>(&baseValue), nullptr, nullptr};
    MSHookMessageEx(nullptr, set, runtime::imp<int>(&firstHook), &previous);
    EXPECT_FALSE(previous);
    MSHookMessageEx(cls, sel_registerName("absent"), runtime::imp<int>(&firstHook), &previous);
    EXPECT_FALSE(previous);
}

TEST(Runtime, InstanceVariablesByNameAndClassMethods) {
    Class cls = objc_registerClass("IvarThing", nullptr);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    ASSERT_TRUE(class_addIvar(cls, "label", offsetof(Thing, label), "@"));
#pragma GCC diagnostic pop
    Thing t = make(cls, 0);
    std::string text = "hello";
    t.label = &text;
    Ivar iv = class_getInstanceVariable(cls, "label");
    ASSERT_NE(iv, nullptr);
    EXPECT_EQ(**ivarPointer<std::string*>(&t, iv), "hello");
    EXPECT_EQ(class_getInstanceVariable(cls, "missing"), nullptr);
    class_addMethod(object_getClass(classAsObject(cls)), sel_registerName("answer"), runtime::imp<int>(&childValue), "i@:");
    EXPECT_TRUE(class_respondsToSelector(object_getClass(classAsObject(cls)), sel_registerName("answer")));
    EXPECT_FALSE(class_respondsToSelector(cls, sel_registerName("answer")));
}
