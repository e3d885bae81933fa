#include "platform/foundation/notifications.h"

#include <algorithm>
#include <atomic>

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

bool NotificationObservers::add(const std::string& name, std::function<void(const Dictionary*)> callback, RunLoop& loop) {
    std::lock_guard lock(m_);
    bool first = std::none_of(observers_.begin(), observers_.end(), [&](const auto& o) { return o->name == name; });
    observers_.push_back(std::make_shared<Observer>(Observer{name, std::move(callback), &loop}));
    return first;
}

void NotificationObservers::deliver(const std::string& name, const std::optional<Dictionary>& userInfo, RunLoop* current) {
    std::vector<std::shared_ptr<Observer>> targets;
    {
        std::lock_guard lock(m_);
        for (auto& o : observers_)
            if (o->name == name) targets.push_back(o);
    }
    for (auto& o : targets) {
        if (current && o->loop == current) {
            try {
                o->callback(userInfo ? &*userInfo : nullptr);  // already on the observer's loop
            } catch (...) {
                NSLog("An observer of %s threw", name.c_str());
            }
        } else {
            // Each observer gets the dictionary as it was posted.
            o->loop->perform([o, userInfo] { o->callback(userInfo ? &*userInfo : nullptr); });
        }
    }
}

InProcessNotificationCenter::InProcessNotificationCenter() = default;
InProcessNotificationCenter::~InProcessNotificationCenter() = default;

void InProcessNotificationCenter::post(const std::string& name, const Dictionary* userInfo) {
    std::optional<Dictionary> info;
    if (userInfo) info = *userInfo;
    observers_.deliver(name, info);
}

void InProcessNotificationCenter::addObserver(const std::string& name, std::function<void(const Dictionary*)> callback,
                                              RunLoop& loop) {
    observers_.add(name, std::move(callback), loop);
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
