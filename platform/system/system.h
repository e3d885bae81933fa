// Operating-system facts the tweak asks for: the interface address list (getifaddrs and its
// matching free) and the virtual-memory statistics with the page size. A SystemSource answers
// them: machineSystem() from the machine itself (getifaddrs, /proc/meminfo, the page size),
// deviceSystem() from the simulated device's tables in DeviceState (the default). A list is a
// genuine `struct ifaddrs` chain owned by the caller until freeInterfaceAddresses; failures come
// back as the system's own (non-zero, false). The device source is main-thread only (it reads
// DeviceState); the machine source and the switch itself are thread-safe.
#pragma once

#include <cstdint>

struct ifaddrs;

namespace platform {

struct VMStatistics {  // vm_statistics, HOST_VM_INFO
    uint32_t free_count = 0;
    uint32_t inactive_count = 0;
};
struct VMStatistics64 {  // vm_statistics64, HOST_VM_INFO64
    uint64_t free_count = 0;
    uint64_t inactive_count = 0;
};

class SystemSource {
public:
    virtual ~SystemSource() = default;
    // 0 and a list (possibly empty, then nullptr) on success, -1 on failure.
    virtual int interfaceAddresses(struct ifaddrs** list) = 0;
    // Frees a non-null list this source made.
    virtual void freeInterfaceAddresses(struct ifaddrs* list) = 0;
    virtual uint64_t pageSize() = 0;
    virtual bool statistics(VMStatistics* out) = 0;  // false leaves *out unchanged
    virtual bool statistics64(VMStatistics64* out) = 0;
};

// Both live for the whole process.
SystemSource& machineSystem();
SystemSource& deviceSystem();

void setSystemSource(SystemSource& source);
SystemSource& systemSource();

// getifaddrs through the current source.
int getInterfaceAddresses(struct ifaddrs** list);
// freeifaddrs for a list from getInterfaceAddresses, by the source that made it even when the
// current source has changed since. nullptr is fine.
void freeInterfaceAddresses(struct ifaddrs* list);

uint64_t hostPageSize();                     // host_page_size
bool hostStatistics(VMStatistics* out);      // host_statistics; false leaves *out unchanged
bool hostStatistics64(VMStatistics64* out);  // host_statistics64

}  // namespace platform
