#include "tweak/info/info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <limits>

#include "platform/system/system.h"
#include "tweak/core/hooks.h"
#include "tweak/core/startup.h"
#include "tweak/core/state.h"

namespace {

using Text = std::optional<std::string>;

constexpr char kNoWiFi[] = "No WiFi Connected";
constexpr char kNoCellularData[] = "No Cellular Data";
constexpr uint64_t kMebibyte = 1048576;

id sharedOf(Class cls) {
    if (!cls) return nullptr;
    return msgSend<id>(classAsObject(cls), vantrel::tweak::sel("sharedInstance"));
}

// An interface-list walk that always hands the list back, whatever path it leaves by.
struct InterfaceList {
    struct ifaddrs* head = nullptr;
    bool ok = false;
    InterfaceList() { ok = platform::getInterfaceAddresses(&head) == 0; }
    ~InterfaceList() { platform::freeInterfaceAddresses(head); }
    InterfaceList(const InterfaceList&) = delete;
    InterfaceList& operator=(const InterfaceList&) = delete;
};

}  // namespace

std::string currentWifiSSID() {
    id manager = sharedOf(objc_getClass("SBWiFiManager"));
    Text name = msgSend<Text>(manager, vantrel::tweak::sel("currentNetworkName"));
    return name ? *name : kNoWiFi;
}

int32_t getAvailableMemory() {
    using namespace vantrel::tweak;
    uint64_t pageSize = platform::hostPageSize();
    if constexpr (sizeof(void*) == 8) {
        platform::VMStatistics64 stats;
        platform::hostStatistics64(&stats);  // unread statistics count as nothing free
        uint64_t mib = availableMemory64(stats.free_count, stats.inactive_count, pageSize);
        return static_cast<int32_t>(std::min<uint64_t>(mib, std::numeric_limits<int32_t>::max()));
    } else {
        platform::VMStatistics stats;
        platform::hostStatistics(&stats);
        return availableMemory32(stats.free_count, stats.inactive_count, static_cast<uint32_t>(pageSize));
    }
}

namespace vantrel::tweak {

int32_t availableMemory32(uint32_t freePages, uint32_t inactivePages, uint32_t pageSize) {
    // Formed wide: 2 GiB or more free would overflow a 32-bit product.
    unsigned __int128 bytes = (static_cast<unsigned __int128>(freePages) + inactivePages) * pageSize;
    unsigned __int128 mib = bytes / kMebibyte;
    return mib > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(mib);
}

uint64_t availableMemory64(uint64_t freePages, uint64_t inactivePages, uint64_t pageSize) {
    // 64-bit hosts report a page size four times the unit their statistics count in.
    unsigned __int128 bytes = (static_cast<unsigned __int128>(freePages) + inactivePages) * (pageSize / 4);
    unsigned __int128 mib = bytes / kMebibyte;
    return mib > std::numeric_limits<uint64_t>::max() ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(mib);
}

std::optional<AddressTable> addressTable(const struct ifaddrs* list) {
    AddressTable table;
    for (const struct ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK) || !entry->ifa_addr) continue;
        int family = entry->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        char text[INET6_ADDRSTRLEN];
        const void* address = family == AF_INET
                                  ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr)
                                  : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr);
        if (!inet_ntop(family, address, text, sizeof text)) continue;
        std::string key = std::string(entry->ifa_name ? entry->ifa_name : "") + "/" + (family == AF_INET ? "ipv4" : "ipv6");
        table[key] = text;  // several addresses of one family: the last listed stays
    }
    if (table.empty()) return std::nullopt;
    return table;
}

std::string dataIPAddress(const struct ifaddrs* list) {
    if (!list) return kNoCellularData;
    std::optional<std::string> result;
    for (const struct ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !entry->ifa_name || std::string_view(entry->ifa_name) != "pdp_ip0") continue;
        int family = entry->ifa_addr->sa_family;
        if (family == AF_INET) {
            // inet_ntoa's text, without its buffer shared by every caller.
            char text[INET_ADDRSTRLEN];
            if (inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, text, sizeof text))
                result = text;
        } else if (family == AF_INET6) {
            char text[INET6_ADDRSTRLEN];
            if (inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr, text, sizeof text))
                result = text;
        }
    }
    return result.value_or(kNoCellularData);
}

std::optional<AddressTable> getIPAddresses(id, SEL) {
    InterfaceList list;
    if (!list.ok) return std::nullopt;
    return addressTable(list.head);
}

std::string getIPAddress_(id self, SEL, bool preferIPv4) {
    static const char* const ipv4First[] = {"en0/ipv4", "en0/ipv6", "pdp_ip0/ipv4", "pdp_ip0/ipv6"};
    static const char* const ipv6First[] = {"en0/ipv6", "en0/ipv4", "pdp_ip0/ipv6", "pdp_ip0/ipv4"};
    auto table = msgSend<std::optional<AddressTable>>(self, sel("getIPAddresses"));
    if (table)
        for (const char* key : preferIPv4 ? ipv4First : ipv6First)
            if (auto found = table->find(key); found != table->end()) return found->second;
    return kNoWiFi;
}

std::string getDataIPAddress_(id, SEL, bool) {
    InterfaceList list;
    if (!list.ok) return kNoCellularData;
    return dataIPAddress(list.head);
}

std::string nowPlayingString(id, SEL) {
    static Class mediaController = objc_getClass("SBMediaController");
    if (!mediaController) mediaController = objc_getClass("SBMediaController");
    id controller = sharedOf(mediaController);
    Text text = msgSend<Text>(controller, sel(showArtist ? "nowPlayingArtist" : "nowPlayingTitle"));
    if (!text) return showArtist ? "Unknown Artist" : "Unknown Track";
    // A single quote would end the quoted literal the text is shown in.
    std::replace(text->begin(), text->end(), '\'', '`');
    return *text;
}

void toggleNowPlayingString(id, SEL) { showArtist = !showArtist; }

// ---- What start-up installs

const HookTable& infoHooks() {
    static const HookTable table{
        {
            adding<&getIPAddress_>("getIPAddress:"),
            adding<&toggleNowPlayingString>("toggleNowPlayingString"),
            adding<&nowPlayingString>("nowPlayingString"),
            adding<&getDataIPAddress_>("getDataIPAddress:"),
            adding<&getIPAddresses>("getIPAddresses"),
        },
        {},
    };
    return table;
}

}  // namespace vantrel::tweak
