// Operating-system facts the tweak asks for: the interface address list (getifaddrs and its
// matching free) and the virtual-memory statistics with the page size. Each comes from one of
// two sources: the machine itself (getifaddrs, /proc/meminfo, the page size) or the simulated
// device's table in DeviceState. A list is a genuine `struct ifaddrs` chain owned by the caller
// until freeInterfaceAddresses; failures come back as the system's own (non-zero, false).
// Main thread for the device source (it reads DeviceState); the machine source is thread-safe.
#pragma once

#include <cstdint>
#include <string>

struct ifaddrs;

namespace platform {

enum class SystemSource { Machine, Device };
void setSystemSource(SystemSource source);  // the device is the default
SystemSource systemSource();

// One row of the device's interface table. family is "ipv4", "ipv6", "link" (an address of
// another family) or "none" (an entry without an address).
struct DeviceInterface {
    std::string name;
    std::string family = "ipv4";
    std::string address;
    bool up = true;
    bool loopback = false;
    bool operator==(const DeviceInterface&) const = default;
};

// The device's memory as the host reports it: page size (host_page_size) and page counts. On
// 64-bit hosts the 64-bit statistics count pages of a quarter of the reported size, as devices
// with 16 KiB pages count 4 KiB ones; the 32-bit form counts whole reported pages.
struct DeviceMemory {
    uint64_t pageSize = 16384;
    uint64_t freePages = 20000;
    uint64_t inactivePages = 30000;
    bool readable = true;  // false: host_statistics fails
    bool operator==(const DeviceMemory&) const = default;
};

// getifaddrs: 0 and a list (possibly empty, then nullptr) on success, -1 on failure.
int getInterfaceAddresses(struct ifaddrs** list);
// freeifaddrs for a list from getInterfaceAddresses, whichever source made it. nullptr is fine.
void freeInterfaceAddresses(struct ifaddrs* list);

struct VMStatistics {  // vm_statistics, HOST_VM_INFO
    uint32_t free_count = 0;
    uint32_t inactive_count = 0;
};
struct VMStatistics64 {  // vm_statistics64, HOST_VM_INFO64
    uint64_t free_count = 0;
    uint64_t inactive_count = 0;
};

uint64_t hostPageSize();                      // host_page_size
bool hostStatistics(VMStatistics* out);       // host_statistics; false leaves *out unchanged
bool hostStatistics64(VMStatistics64* out);   // host_statistics64

}  // namespace platform
