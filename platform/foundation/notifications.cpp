#include "platform/foundation/notifications.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/log.h"

namespace platform {
namespace {
std::atomic<NotificationCenter*> distributedCenter{nullptr};
}

NotificationCenter& NotificationCenter::distributed() {
    NotificationCenter* c = distributedCenter.load();
    if (!c) {
        static InProcessNotificationCenter fallback;
        return fallback;
    }
    return *c;
}

void NotificationCenter::setDistributed(NotificationCenter* center) { distributedCenter.store(center); }

struct InProcessNotificationCenter::State {
    struct Observer {
        std::string name;
        std::function<void(const Dictionary*)> callback;
        RunLoop* loop;
    };
    std::mutex m;
    std::vector<std::shared_ptr<Observer>> observers;
};

InProcessNotificationCenter::InProcessNotificationCenter() : s_(std::make_unique<State>()) {}
InProcessNotificationCenter::~InProcessNotificationCenter() = default;

void InProcessNotificationCenter::post(const std::string& name, const Dictionary* userInfo) {
    std::vector<std::shared_ptr<State::Observer>> targets;
    {
        std::lock_guard lock(s_->m);
        for (auto& o : s_->observers)
            if (o->name == name) targets.push_back(o);
    }
    std::optional<Dictionary> info;
    if (userInfo) info = *userInfo;  // each observer gets the dictionary as it was posted
    for (auto& o : targets) {
        o->loop->perform([o, info] { o->callback(info ? &*info : nullptr); });
    }
}

void InProcessNotificationCenter::addObserver(const std::string& name, std::function<void(const Dictionary*)> callback,
                                              RunLoop& loop) {
    std::lock_guard lock(s_->m);
    s_->observers.push_back(std::make_shared<State::Observer>(State::Observer{name, std::move(callback), &loop}));
}

}  // namespace platform

CFNotificationCenterRef CFNotificationCenterGetDistributedCenter() { return &platform::NotificationCenter::distributed(); }

void CFNotificationCenterPostNotification(CFNotificationCenterRef center, const std::string& name, const void*,
                                          const platform::Dictionary* userInfo, bool) {
    if (center) center->post(name, userInfo);
}

void CFNotificationCenterAddObserver(CFNotificationCenterRef center, void* observer, CFNotificationCallback callback,
                                     const std::string& name, const void* object, int) {
    if (!center || !callback) return;
    center->addObserver(
        name,
        [center, observer, callback, name, object](const platform::Dictionary* userInfo) {
            // Nothing may escape a callback into the run loop.
            try {
                callback(center, observer, name, object, userInfo);
            } catch (...) {
                NSLog("Observer of %s threw", name.c_str());
            }
        },
        platform::RunLoop::main());
}
