#include "platform/system/system.h"

#include <atomic>
#include <map>
#include <mutex>

namespace platform {
namespace {

std::atomic<SystemSource*> current{nullptr};

// Which source made each list still out, so the matching free is chosen whatever the source is now.
std::mutex listsMutex;
std::map<struct ifaddrs*, SystemSource*>& lists() {
    static std::map<struct ifaddrs*, SystemSource*> made;
    return made;
}

}  // namespace

void setSystemSource(SystemSource& source) { current.store(&source); }

SystemSource& systemSource() {
    SystemSource* s = current.load();
    return s ? *s : deviceSystem();
}

int getInterfaceAddresses(struct ifaddrs** list) {
    if (!list) return -1;
    *list = nullptr;
    SystemSource& source = systemSource();
    int result = source.interfaceAddresses(list);
    if (result == 0 && *list) {
        std::lock_guard lock(listsMutex);
        lists()[*list] = &source;
    }
    return result;
}

void freeInterfaceAddresses(struct ifaddrs* list) {
    if (!list) return;
    SystemSource* maker = &machineSystem();  // a list we did not hand out is getifaddrs's own
    {
        std::lock_guard lock(listsMutex);
        if (auto it = lists().find(list); it != lists().end()) {
            maker = it->second;
            lists().erase(it);
        }
    }
    maker->freeInterfaceAddresses(list);
}

uint64_t hostPageSize() { return systemSource().pageSize(); }

bool hostStatistics(VMStatistics* out) { return out && systemSource().statistics(out); }

bool hostStatistics64(VMStatistics64* out) { return out && systemSource().statistics64(out); }

}  // namespace platform
