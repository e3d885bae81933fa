// Placeholder until the device facts land.
#include "tweak/info/info.h"

std::string currentWifiSSID() { return "No WiFi Connected"; }
int32_t getAvailableMemory() { return 0; }

namespace vantrel::tweak {
std::string getIPAddress_(id, SEL, bool) { return "No WiFi Connected"; }
std::optional<AddressTable> getIPAddresses(id, SEL) { return std::nullopt; }
std::string getDataIPAddress_(id, SEL, bool) { return "No Cellular Data"; }
std::string nowPlayingString(id, SEL) { return "Unknown Track"; }
void toggleNowPlayingString(id, SEL) {}
}  // namespace vantrel::tweak
