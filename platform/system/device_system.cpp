// The simulated device's answers, built from the interface table and memory of DeviceState.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/device/device_state.h"
#include "platform/system/system.h"

namespace platform {
namespace {

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

uint32_t narrow(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, std::numeric_limits<uint32_t>::max())); }

class DeviceSystem final : public SystemSource {
public:
    int interfaceAddresses(struct ifaddrs** out) override {
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
        *out = head;
        return 0;
    }

    void freeInterfaceAddresses(struct ifaddrs* list) override { freeDeviceList(list); }

    uint64_t pageSize() override { return deviceState().memory.pageSize; }

    bool statistics(VMStatistics* out) override {
        const DeviceMemory& m = deviceState().memory;
        if (!m.readable) return false;
        out->free_count = narrow(m.freePages);
        out->inactive_count = narrow(m.inactivePages);
        return true;
    }

    bool statistics64(VMStatistics64* out) override {
        const DeviceMemory& m = deviceState().memory;
        if (!m.readable) return false;
        out->free_count = m.freePages * 4;
        out->inactive_count = m.inactivePages * 4;
        return true;
    }
};

}  // namespace

SystemSource& deviceSystem() {
    static DeviceSystem device;
    return device;
}

}  // namespace platform
