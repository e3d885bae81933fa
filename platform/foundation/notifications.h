// The distributed notification centre (CFNotificationCenterGetDistributedCenter). A post reaches
// every observer of its name, the poster's own process included, with the userInfo intact, on
// the observer's run loop and always after the posting call has returned. Two implementations:
// in-process (tests, one process) and D-Bus (the hosts, every process on the device bus).
// Observers are never removed, as the system never removes its own. Thread-safe.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/runloop.h"
#include "platform/foundation/value.h"

namespace platform {
class NotificationCenter;
}
using CFNotificationCenterRef = platform::NotificationCenter*;

// center, observer, name, object, userInfo (nullptr when the post carried none).
using CFNotificationCallback = void (*)(CFNotificationCenterRef center, void* observer, const std::string& name,
                                        const void* object, const platform::Dictionary* userInfo);

enum CFNotificationSuspensionBehavior {
    CFNotificationSuspensionBehaviorDrop = 1,
    CFNotificationSuspensionBehaviorCoalesce = 2,
    CFNotificationSuspensionBehaviorHold = 3,
    CFNotificationSuspensionBehaviorDeliverImmediately = 4
};

namespace platform {

class NotificationCenter {
public:
    virtual ~NotificationCenter() = default;
    virtual void post(const std::string& name, const Dictionary* userInfo) = 0;
    // The callback runs on `loop` (the main run loop when the observer is added through CF).
    virtual void addObserver(const std::string& name, std::function<void(const Dictionary* userInfo)> callback,
                             RunLoop& loop) = 0;

    // The process's distributed centre; a host installs the D-Bus one, tests an in-process one.
    static NotificationCenter& distributed();
    static void setDistributed(NotificationCenter* center);
};

// The observers of one centre and how a post reaches them, shared by both implementations.
// Thread-safe; a callback is never called under the lock.
class NotificationObservers {
public:
    // Adds an observer; true when it is the first of its name (a centre may need to subscribe).
    bool add(const std::string& name, std::function<void(const Dictionary*)> callback, RunLoop& loop);
    // Hands userInfo to every observer of name on its own loop. An observer of `current`, the
    // loop the caller is running on, is called at once (what it throws is logged); the others
    // get it through perform().
    void deliver(const std::string& name, const std::optional<Dictionary>& userInfo, RunLoop* current = nullptr);

private:
    struct Observer {
        std::string name;
        std::function<void(const Dictionary*)> callback;
        RunLoop* loop;
    };
    std::mutex m_;
    std::vector<std::shared_ptr<Observer>> observers_;
};

// Observers in this process only: the loop of the whole device collapsed into one process.
class InProcessNotificationCenter : public NotificationCenter {
public:
    InProcessNotificationCenter();
    ~InProcessNotificationCenter() override;
    void post(const std::string& name, const Dictionary* userInfo) override;
    void addObserver(const std::string& name, std::function<void(const Dictionary*)> callback, RunLoop& loop) override;

private:
    NotificationObservers observers_;
};

}  // namespace platform

CFNotificationCenterRef CFNotificationCenterGetDistributedCenter();
void CFNotificationCenterPostNotification(CFNotificationCenterRef center, const std::string& name, const void* object,
                                          const platform::Dictionary* userInfo, bool deliverImmediately);
void CFNotificationCenterAddObserver(CFNotificationCenterRef center, void* observer, CFNotificationCallback callback,
                                     const std::string& name, const void* object, int suspensionBehavior);
