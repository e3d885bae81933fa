// Device facts for the clock item: Wi-Fi name, addresses, free memory, now-playing text. Every
// text source returns a text (a fixed fallback when the fact is missing). Main thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/runtime/runtime.h"
#include "tweak/core/services.h"

struct ifaddrs;

namespace vantrel::tweak {

using AddressTable = std::map<std::string, std::string>;  // "en0/ipv4" -> "192.168.1.20"

// Added methods of SBStatusBarStateAggregator.
std::string getIPAddress_(id self, SEL _cmd, bool preferIPv4);
std::optional<AddressTable> getIPAddresses(id self, SEL _cmd);
std::string getDataIPAddress_(id self, SEL _cmd, bool preferIPv4);
std::string nowPlayingString(id self, SEL _cmd);
void toggleNowPlayingString(id self, SEL _cmd);

// The pure computations, for the added methods and the tests.
std::optional<AddressTable> addressTable(const struct ifaddrs* list);
std::string dataIPAddress(const struct ifaddrs* list);
int32_t availableMemory32(uint32_t freePages, uint32_t inactivePages, uint32_t pageSize);
uint64_t availableMemory64(uint64_t freePages, uint64_t inactivePages, uint64_t pageSize);

}  // namespace vantrel::tweak
