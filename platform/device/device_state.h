// The simulated hardware of the device: what SpringBoard's classes compute their status bar
// items from, and the tables the device's system answers from (interfaces, memory). One
// instance per process, touched on the main thread only; the SpringBoard host loads it from
// device.plist and applies `device set` changes to it. The bottom of the platform's device
// side: it knows nothing of SpringBoard, UIKit or the system calls that read it.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace platform {

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

// SpringBoard's data connection types, as the status bar's data network item labels them.
const char* dataNetworkLabel(int type);

// lo0, en0 (link, IPv6, IPv4), pdp_ip0 (IPv4), a tunnel and a down interface.
std::vector<DeviceInterface> defaultInterfaces();

struct DeviceState {
    // Cellular service.
    std::optional<std::string> carrier = std::string("Vantrel Mobile");
    bool simInserted = true;
    bool emergencyOnly = false;  // the network grants emergency calls only
    int signalBars = 4;          // 0 to 5
    int cellularDataType = 6;    // a type of dataNetworkLabel
    bool airplaneMode = false;
    // Wi-Fi.
    std::optional<std::string> wifiNetwork = std::string("Quennick Home");
    int wifiBars = 3;
    // Tethering.
    bool tethering = false;
    int tetheredDevices = 0;
    // Battery and accessories.
    int batteryLevel = 87;
    bool charging = false;
    bool bluetooth = true;
    std::optional<int> bluetoothBatteryLevel = 60;  // a connected headset's battery
    bool doNotDisturb = false;
    bool tty = false;
    bool alarm = true;
    bool location = true;
    bool rotationLock = false;
    bool airplay = false;
    bool assistant = false;
    bool vpn = false;
    bool callForwarding = false;
    bool networkActivity = false;
    // Media.
    bool mediaPlaying = true;
    std::optional<std::string> nowPlayingArtist = std::string("The Quennicks");
    std::optional<std::string> nowPlayingTitle = std::string("Status Bar Blues");
    // Lock state.
    bool locked = false;
    // The wall clock's offset from the machine's in seconds (0: the machine's clock); the
    // device's clock runs on from whatever time it was set to.
    double clockOffset = 0;
    // Network interfaces (what getifaddrs lists) and memory, read through platform/system.
    std::vector<DeviceInterface> interfaces = defaultInterfaces();
    bool interfacesReadable = true;  // false: getifaddrs fails
    DeviceMemory memory;
    // System software: kCFCoreFoundationVersionNumber (847.20 is iOS 7.0) and the installed
    // applications that answer URL schemes (see platform/uikit/application.h).
    double coreFoundationVersionNumber = 847.20;
    std::vector<std::string> installedApps;

    // Applies device.plist keys (the names of toDictionary); unknown keys and wrong types are
    // ignored and named in `ignored` when given.
    void apply(const Dictionary& values, std::vector<std::string>* ignored = nullptr);
    Dictionary toDictionary() const;
};

DeviceState& deviceState();

// How a user gives a hardware key's value (`device set`, the bus's SetHardware); the checks
// live with those front doors, the table with the state it changes.
enum class HardwareType {
    Bool,            // true/false, on/off, yes/no, 1/0
    Int,             // a whole number within [min, max]
    OptionalInt,     // the same, or none
    String,          // taken as typed
    OptionalString,  // as typed, or none
    Real,            // a number >= min
    StringList,      // [a,b,c]
    Ipv4,            // an IPv4 address, or none
    Ipv6,            // an IPv6 address, or none
    Clock,           // HH:MM[:SS], YYYY-MM-DDTHH:MM[:SS], or live
};

inline constexpr long long kNoUpperBound = std::numeric_limits<long long>::max();

struct HardwareKey {
    std::string_view name;
    HardwareType type;
    long long min = 0;
    long long max = 0;
    std::string_view meaning;
    std::string_view changes;  // the device.plist key it sets
};

// Every key a user sets, in the order they are listed. Most are device.plist keys as they are
// stored; the addresses and the clock are worked into `interfaces` and `clockOffset`.
std::span<const HardwareKey> hardwareKeys();

}  // namespace platform
