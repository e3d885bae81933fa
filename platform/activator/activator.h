// Activator: the gesture framework SpringBoard loads. Listeners register under a name; each
// event is assigned to at most one listener name; sending an event calls the assigned
// listener's activator:receiveEvent: through the runtime. Assignments and the names of every
// listener ever registered are kept in libactivator.plist in the device's preferences folder,
// so a restarted SpringBoard sees them. Listeners are not owned: each lives as long as the
// process. Main thread; a failed read gives an empty registry, a failed write is logged.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/runtime/runtime.h"

namespace platform {

// The LAListener protocol: the listener's class answers
// activator:receiveEvent: as void(id self, SEL cmd, id activator, id event),
// where activator is the LAActivator and event the LAEvent being delivered.
inline constexpr char kLAListenerReceiveEventSelector[] = "activator:receiveEvent:";
using LAListenerReceiveEvent = void (*)(id self, SEL cmd, id activator, id event);

class LAEvent : public objc_object {
public:
    // +[LAEvent eventWithName:]
    static std::shared_ptr<LAEvent> eventWithName(std::string name);
    const std::string& name() const { return name_; }
    bool handled() const { return handled_; }
    void setHandled(bool handled) { handled_ = handled; }

private:
    explicit LAEvent(std::string name);
    std::string name_;
    bool handled_ = false;
};

class LAActivator : public objc_object {
public:
    // +[LAActivator sharedInstance]: created on first use from libactivator.plist.
    static LAActivator& sharedInstance();
    // A restart of SpringBoard: the registered listeners go away with the old process and the
    // next sharedInstance reads the file again.
    static void discardSharedInstance();

    bool hasSeenListenerWithName(const std::string& name) const;
    // Moves the event to the listener name (an event has one listener); stored at once.
    void assignEvent_toListenerWithName(const LAEvent& event, const std::string& listenerName);
    // Takes the event away from whatever listener had it; stored at once.
    void unassignEvent(const LAEvent& event);
    // Registers the listener under the name and remembers the name as seen; stored at once.
    void registerListener_forName(id listener, const std::string& name);

    std::optional<std::string> assignedListenerNameForEvent(const std::string& eventName) const;
    id listenerForName(const std::string& name) const;  // nullptr when none is registered

    // What SpringBoard does when a gesture happens: delivers an event of that name to the
    // listener it is assigned to. False when no registered listener has the event.
    bool sendEvent(const std::string& eventName);

    // NSHomeDirectory() + "/Library/Preferences/libactivator.plist"
    static std::string storePath();

private:
    LAActivator();
    void load();
    void store() const;

    std::map<std::string, std::string> assignments_;  // event name -> listener name
    std::set<std::string> seenListeners_;
    std::map<std::string, id> listeners_;
};

// Registers the LAActivator and LAEvent classes in the runtime. Idempotent.
void registerActivatorClasses();

}  // namespace platform
