#include "platform/activator/activator.h"

#include <mutex>

#include "platform/foundation/file.h"
#include "platform/foundation/home.h"
#include "platform/foundation/log.h"

namespace platform {
namespace {

constexpr char kAssignmentsKey[] = "eventAssignments";
constexpr char kSeenListenersKey[] = "seenListeners";

std::unique_ptr<LAActivator>& sharedSlot() {
    static std::unique_ptr<LAActivator> instance;
    return instance;
}

}  // namespace

void registerActivatorClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        Class nsobject = objc_registerClass("NSObject", nullptr);
        objc_registerClass("LAActivator", nsobject);
        objc_registerClass("LAEvent", nsobject);
    });
}

LAEvent::LAEvent(std::string name) : name_(std::move(name)) {
    registerActivatorClasses();
    isa = objc_getClass("LAEvent");
}

std::shared_ptr<LAEvent> LAEvent::eventWithName(std::string name) {
    return std::shared_ptr<LAEvent>(new LAEvent(std::move(name)));
}

LAActivator::LAActivator() {
    registerActivatorClasses();
    isa = objc_getClass("LAActivator");
}

LAActivator& LAActivator::sharedInstance() {
    auto& slot = sharedSlot();
    if (!slot) {
        slot.reset(new LAActivator());
        slot->load();
    }
    return *slot;
}

void LAActivator::discardSharedInstance() { sharedSlot().reset(); }

std::string LAActivator::storePath() { return NSHomeDirectory() + "/Library/Preferences/libactivator.plist"; }

void LAActivator::load() {
    // A missing or damaged file is a device where no listener was ever seen; entries of the
    // wrong kind are skipped rather than trusted.
    auto stored = readDictionaryFile(storePath());
    if (!stored) return;
    if (const Value* a = lookup(*stored, kAssignmentsKey); a && a->dictionary())
        for (const auto& [event, listener] : *a->dictionary())
            if (listener.string()) assignments_[event] = *listener.string();
    if (const Value* s = lookup(*stored, kSeenListenersKey); s && s->array())
        for (const auto& name : *s->array())
            if (name.string()) seenListeners_.insert(*name.string());
}

void LAActivator::store() const {
    Dictionary assignments;
    for (const auto& [event, listener] : assignments_) assignments[event] = listener;
    Array seen;
    for (const auto& name : seenListeners_) seen.emplace_back(name);
    std::string path = storePath();
    createDirectories(path.substr(0, path.rfind('/')));
    if (!writeDictionaryFile(path, {{kAssignmentsKey, assignments}, {kSeenListenersKey, seen}}))
        NSLog("Activator: could not write %s", path.c_str());
}

bool LAActivator::hasSeenListenerWithName(const std::string& name) const { return seenListeners_.count(name) > 0; }

void LAActivator::assignEvent_toListenerWithName(const LAEvent& event, const std::string& listenerName) {
    assignments_[event.name()] = listenerName;
    store();
}

void LAActivator::unassignEvent(const LAEvent& event) {
    if (assignments_.erase(event.name())) store();
}

void LAActivator::registerListener_forName(id listener, const std::string& name) {
    listeners_[name] = listener;
    if (seenListeners_.insert(name).second) store();
}

std::optional<std::string> LAActivator::assignedListenerNameForEvent(const std::string& eventName) const {
    auto it = assignments_.find(eventName);
    if (it == assignments_.end()) return std::nullopt;
    return it->second;
}

id LAActivator::listenerForName(const std::string& name) const {
    auto it = listeners_.find(name);
    return it == listeners_.end() ? nullptr : it->second;
}

bool LAActivator::sendEvent(const std::string& eventName) {
    auto listenerName = assignedListenerNameForEvent(eventName);
    if (!listenerName) return false;
    id listener = listenerForName(*listenerName);
    if (!listener) return false;
    auto event = LAEvent::eventWithName(eventName);
    msgSend<void>(listener, sel_registerName(kLAListenerReceiveEventSelector), static_cast<id>(this),
                  static_cast<id>(event.get()));
    return true;
}

}  // namespace platform
