#include "platform/preferences/settings_app.h"

#include "platform/foundation/log.h"

namespace platform {
namespace {
SEL S(const char* name) { return sel_registerName(name); }
}  // namespace

id openController(const std::string& className, CGSize size) {
    Class cls = objc_getClass(className.c_str());
    if (!cls || !class_respondsToSelector(object_getClass(classAsObject(cls)), S("alloc"))) {
        NSLog("No settings page class %s", className.c_str());
        return nullptr;
    }
    id page = msgSend<id>(classAsObject(cls), S("alloc"));
    id initialised = msgSend<id>(page, S("initForContentSize:"), size);
    if (!initialised) {
        msgSend<void>(page, S("dealloc"));
        return nullptr;
    }
    msgSend<void>(initialised, S("viewDidAppear:"), true);
    return initialised;
}

std::vector<SpecifierRow> controllerRows(id controller) {
    std::vector<SpecifierRow> rows;
    for (const auto& s : msgSend<PSSpecifierList>(controller, S("specifiers"))) {
        SpecifierRow row;
        row.specifier = s.get();
        row.label = s->name();
        row.cell = s->cellType();
        row.key = s->stringProperty("key");
        row.action = s->stringProperty("action");
        row.detail = s->stringProperty("detail");
        if (!row.key.empty()) row.value = msgSend<PSValue>(controller, S("readPreferenceValue:"), s.get());
        if (const Value* v = s->propertyForKey("validValues"); v && v->array()) row.validValues = *v->array();
        if (const Value* t = s->propertyForKey("validTitles"); t && t->array())
            for (const auto& title : *t->array()) row.validTitles.push_back(title.string() ? *title.string() : "");
        rows.push_back(std::move(row));
    }
    return rows;
}

PSSpecifier* specifierForKey(id controller, const std::string& key) {
    for (const auto& s : msgSend<PSSpecifierList>(controller, S("specifiers")))
        if (s->stringProperty("key") == key) return s.get();
    return nullptr;
}

PSSpecifier* specifierForAction(id controller, const std::string& action) {
    for (const auto& s : msgSend<PSSpecifierList>(controller, S("specifiers")))
        if (s->stringProperty("action") == action) return s.get();
    return nullptr;
}

void setControllerValue(id controller, PSSpecifier* specifier, PSValue value) {
    msgSend<void>(controller, S("setPreferenceValue:specifier:"), std::move(value), specifier);
}

bool performAction(id controller, PSSpecifier* specifier) {
    if (!specifier) return false;
    std::string action = specifier->stringProperty("action");
    id target = specifier->target ? specifier->target : controller;
    if (action.empty() || !class_respondsToSelector(object_getClass(target), S(action.c_str()))) {
        NSLog("No action %s for this row", action.c_str());
        return false;
    }
    msgSend<void>(target, S(action.c_str()), static_cast<id>(specifier));
    return true;
}

void suspendController(id controller) { msgSend<void>(controller, S("suspend")); }

void leaveController(id controller) {
    if (!controller) return;
    msgSend<void>(controller, S("viewWillDisappear:"), true);
    msgSend<void>(controller, S("dealloc"));
}

}  // namespace platform
