// The machine's own answers: getifaddrs, /proc/meminfo and the page size.
#include <ifaddrs.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "platform/system/system.h"

namespace platform {
namespace {

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
        if (key == "MemFree:")
            freeBytes = kib * 1024, haveFree = true;
        else if (key == "Inactive:")
            inactiveBytes = kib * 1024, haveInactive = true;
    }
    return haveFree && haveInactive;
}

uint32_t narrow(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, std::numeric_limits<uint32_t>::max())); }

class MachineSystem final : public SystemSource {
public:
    int interfaceAddresses(struct ifaddrs** list) override { return getifaddrs(list) == 0 ? 0 : -1; }
    void freeInterfaceAddresses(struct ifaddrs* list) override { freeifaddrs(list); }

    uint64_t pageSize() override {
        long size = sysconf(_SC_PAGESIZE);
        return size > 0 ? static_cast<uint64_t>(size) : 4096;
    }

    bool statistics(VMStatistics* out) override {
        uint64_t freeBytes = 0, inactiveBytes = 0;
        if (!machineMemory(freeBytes, inactiveBytes)) return false;
        uint64_t page = pageSize();
        out->free_count = narrow(freeBytes / page);
        out->inactive_count = narrow(inactiveBytes / page);
        return true;
    }

    bool statistics64(VMStatistics64* out) override {
        uint64_t freeBytes = 0, inactiveBytes = 0;
        if (!machineMemory(freeBytes, inactiveBytes)) return false;
        uint64_t quarter = std::max<uint64_t>(pageSize() / 4, 1);
        out->free_count = freeBytes / quarter;
        out->inactive_count = inactiveBytes / quarter;
        return true;
    }
};

}  // namespace

SystemSource& machineSystem() {
    static MachineSystem machine;
    return machine;
}

}  // namespace platform
