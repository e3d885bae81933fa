#include "platform/system/system.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/springboard/device_state.h"

namespace platform {
namespace {

std::atomic<SystemSource> source{SystemSource::Device};

// Lists built from the device table, so the matching free is chosen whatever the source is now.
std::mutex deviceListsMutex;
std::set<struct ifaddrs*>& deviceLists() {
    static std::set<struct ifaddrs*> lists;
    return lists;
}

// One allocation per entry: the node, its name and its address side by side.
struct DeviceNode {
    struct ifaddrs node;
    sockaddr_storage address;
    char name[IFNAMSIZ + 1];
};

bool fillAddress(const DeviceInterface& row, DeviceNode& n) {
    std::memset(&n.address, 0, sizeof n.address);
    if (row.family == "ipv4") {
        auto* sin = reinterpret_cast<sockaddr_in*>(&n.address);
        sin->sin_family = AF_INET;
        return inet_pton(AF_INET, row.address.c_str(), &sin->sin_addr) == 1;
    }
    if (row.family == "ipv6") {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&n.address);
        sin6->sin6_family = AF_INET6;
        return inet_pton(AF_INET6, row.address.c_str(), &sin6->sin6_addr) == 1;
    }
    if (row.family == "link") {
        reinterpret_cast<sockaddr_ll*>(&n.address)->sll_family = AF_PACKET;
        return true;
    }
    return false;  // "none": the entry has no address
}

void freeDeviceList(struct ifaddrs* list) {
    while (list) {
        struct ifaddrs* next = list->ifa_next;
        std::free(reinterpret_cast<DeviceNode*>(list));  // node is the first member
        list = next;
    }
}

int deviceInterfaceAddresses(struct ifaddrs** out) {
    const DeviceState& d = deviceState();
    if (!d.interfacesReadable) return -1;
    struct ifaddrs* head = nullptr;
    struct ifaddrs** tail = &head;
    for (const auto& row : d.interfaces) {
        auto* n = static_cast<DeviceNode*>(std::calloc(1, sizeof(DeviceNode)));
        if (!n) {
            freeDeviceList(head);
            return -1;
        }
        std::strncpy(n->name, row.name.c_str(), IFNAMSIZ);
        n->node.ifa_name = n->name;
        n->node.ifa_flags = (row.up ? unsigned{IFF_UP | IFF_RUNNING} : 0u) | (row.loopback ? unsigned{IFF_LOOPBACK} : 0u);
        // A text that does not parse leaves the entry without an address rather than a wrong one.
        n->node.ifa_addr = fillAddress(row, *n) ? reinterpret_cast<sockaddr*>(&n->address) : nullptr;
        *tail = &n->node;
        tail = &n->node.ifa_next;
    }
    if (head) {
        std::lock_guard lock(deviceListsMutex);
        deviceLists().insert(head);
    }
    *out = head;
    return 0;
}

// MemFree and Inactive of /proc/meminfo, in bytes; false when either is missing.
bool machineMemory(uint64_t& freeBytes, uint64_t& inactiveBytes) {
    std::ifstream in("/proc/meminfo");
    if (!in) return false;
    bool haveFree = false, haveInactive = false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        uint64_t kib = 0;
        if (!(fields >> key >> kib)) continue;
        if (key == "MemFree:") freeBytes = kib * 1024, haveFree = true;
        else if (key == "Inactive:") inactiveBytes = kib * 1024, haveInactive = true;
    }
    return haveFree && haveInactive;
}

uint64_t machinePageSize() {
    long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<uint64_t>(size) : 4096;
}

uint32_t narrow(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, std::numeric_limits<uint32_t>::max())); }

}  // namespace

void setSystemSource(SystemSource s) { source.store(s); }
SystemSource systemSource() { return source.load(); }

int getInterfaceAddresses(struct ifaddrs** list) {
    if (!list) return -1;
    *list = nullptr;
    if (systemSource() == SystemSource::Machine) return getifaddrs(list) == 0 ? 0 : -1;
    return deviceInterfaceAddresses(list);
}

void freeInterfaceAddresses(struct ifaddrs* list) {
    if (!list) return;
    {
        std::lock_guard lock(deviceListsMutex);
        if (deviceLists().erase(list) == 0) {
            freeifaddrs(list);
            return;
        }
    }
    freeDeviceList(list);
}

uint64_t hostPageSize() {
    if (systemSource() == SystemSource::Machine) return machinePageSize();
    return deviceState().memory.pageSize;
}

bool hostStatistics(VMStatistics* out) {
    if (!out) return false;
    if (systemSource() == SystemSource::Machine) {
        uint64_t freeBytes = 0, inactiveBytes = 0;
        if (!machineMemory(freeBytes, inactiveBytes)) return false;
        uint64_t page = machinePageSize();
        out->free_count = narrow(freeBytes / page);
        out->inactive_count = narrow(inactiveBytes / page);
        return true;
    }
    const DeviceMemory& m = deviceState().memory;
    if (!m.readable) return false;
    out->free_count = narrow(m.freePages);
    out->inactive_count = narrow(m.inactivePages);
    return true;
}

bool hostStatistics64(VMStatistics64* out) {
    if (!out) return false;
    if (systemSource() == SystemSource::Machine) {
        uint64_t freeBytes = 0, inactiveBytes = 0;
        if (!machineMemory(freeBytes, inactiveBytes)) return false;
        uint64_t quarter = std::max<uint64_t>(machinePageSize() / 4, 1);
        out->free_count = freeBytes / quarter;
        out->inactive_count = inactiveBytes / quarter;
        return true;
    }
    const DeviceMemory& m = deviceState().memory;
    if (!m.readable) return false;
    out->free_count = m.freePages * 4;
    out->inactive_count = m.inactivePages * 4;
    return true;
}

}  // namespace platform
