#include "platform/device/device_state.h"

#include <optional>
#include <vector>

namespace platform {

const char* dataNetworkLabel(int type) {
    switch (type) {
    case 0: return "No Data";
    case 1: return "GPRS";
    case 2: return "EDGE";
    case 3: return "3G";
    case 4: return "4G";
    case 5: return "1x";
    case 6: return "LTE";
    case 7: return "Wi-Fi";
    case 8: return "Personal Hotspot";
    default: return "Unknown";
    }
}

std::vector<DeviceInterface> defaultInterfaces() {
    return {
        {"lo0", "ipv4", "127.0.0.1", true, true},
        {"lo0", "ipv6", "::1", true, true},
        {"en0", "link", "", true, false},
        {"en0", "ipv6", "fe80::1c2b:3a4d:5e6f:7081", true, false},
        {"en0", "ipv4", "192.168.1.20", true, false},
        {"pdp_ip0", "ipv4", "10.64.12.7", true, false},
        {"utun0", "ipv6", "fd00:a::2", true, false},
        {"awdl0", "ipv6", "fe80::aa:bbff:fecc:ddee", false, false},
    };
}

DeviceState& deviceState() {
    static DeviceState state;
    return state;
}

namespace {

bool truth(const Value& v, bool& out) {
    if (auto b = v.boolean()) return out = *b, true;
    if (auto i = v.integer()) return out = *i != 0, true;
    return false;
}

bool integer(const Value& v, int& out) {
    if (auto i = v.integer()) return out = static_cast<int>(*i), true;
    if (auto b = v.boolean()) return out = *b, true;
    return false;
}

bool text(const Value& v, std::optional<std::string>& out) {
    if (auto s = v.string()) return out = *s, true;
    if (auto b = v.boolean(); b && !*b) return out.reset(), true;  // false: none
    return false;
}

bool count(const Value& v, uint64_t& out) {
    if (auto i = v.integer(); i && *i >= 0) return out = static_cast<uint64_t>(*i), true;
    return false;
}

// [{"name", "family", "address", "up", "loopback"}, ...]; a malformed row rejects the whole key.
bool interfaceTable(const Value& v, std::vector<DeviceInterface>& out) {
    const Array* rows = v.array();
    if (!rows) return false;
    std::vector<DeviceInterface> table;
    for (const Value& row : *rows) {
        const Dictionary* d = row.dictionary();
        if (!d) return false;
        DeviceInterface i;
        const Value* name = lookup(*d, "name");
        if (!name || !name->string()) return false;
        i.name = *name->string();
        if (const Value* f = lookup(*d, "family"); f && f->string()) i.family = *f->string();
        if (const Value* a = lookup(*d, "address"); a && a->string()) i.address = *a->string();
        if (const Value* u = lookup(*d, "up")) truth(*u, i.up);
        if (const Value* l = lookup(*d, "loopback")) truth(*l, i.loopback);
        table.push_back(std::move(i));
    }
    out = std::move(table);
    return true;
}

// How a member is read from and written to device.plist.
struct Truth {
    static bool read(const Value& v, bool& out) { return truth(v, out); }
    static std::optional<Value> write(bool b) { return Value(b); }
};
struct Integer {
    static bool read(const Value& v, int& out) { return integer(v, out); }
    static std::optional<Value> write(int i) { return Value(i); }
};
struct Text {  // absent: written as nothing, read back from false
    static bool read(const Value& v, std::optional<std::string>& out) { return text(v, out); }
    static std::optional<Value> write(const std::optional<std::string>& s) {
        return s ? std::optional<Value>(Value(*s)) : std::nullopt;
    }
};
struct OptionalInteger {
    static bool read(const Value& v, std::optional<int>& out) {
        // false is none, not the 0 integer() would make of it.
        if (auto b = v.boolean(); b && !*b) return out.reset(), true;
        int level = 0;
        if (integer(v, level)) return out = level, true;
        return false;
    }
    static std::optional<Value> write(const std::optional<int>& i) { return i ? std::optional<Value>(Value(*i)) : std::nullopt; }
};
struct Count {
    static bool read(const Value& v, uint64_t& out) { return count(v, out); }
    static std::optional<Value> write(uint64_t n) { return Value(static_cast<long long>(n)); }
};
struct Real {
    static bool read(const Value& v, double& out) {
        if (auto r = v.real()) return out = *r, true;
        if (auto i = v.integer()) return out = static_cast<double>(*i), true;
        return false;
    }
    static std::optional<Value> write(double d) { return Value(d); }
};
struct Strings {  // a non-string entry rejects the whole key
    static bool read(const Value& v, std::vector<std::string>& out) {
        if (!v.array()) return false;
        std::vector<std::string> list;
        for (const auto& a : *v.array()) {
            if (!a.string()) return false;
            list.push_back(*a.string());
        }
        out = std::move(list);
        return true;
    }
    static std::optional<Value> write(const std::vector<std::string>& list) {
        Array out;
        for (const auto& a : list) out.push_back(a);
        return Value(std::move(out));
    }
};
struct Interfaces {
    static bool read(const Value& v, std::vector<DeviceInterface>& out) { return interfaceTable(v, out); }
    static std::optional<Value> write(const std::vector<DeviceInterface>& interfaces) {
        Array rows;
        for (const auto& i : interfaces) {
            Dictionary row;
            row["name"] = Value(i.name);
            row["family"] = Value(i.family);
            row["address"] = Value(i.address);
            row["up"] = Value(i.up);
            row["loopback"] = Value(i.loopback);
            rows.emplace_back(std::move(row));
        }
        return Value(std::move(rows));
    }
};

// One device.plist key: the member it names and how that member is read and written.
struct Field {
    const char* key;
    bool (*read)(const Value&, DeviceState&);
    std::optional<Value> (*write)(const DeviceState&);
};

// `member` is a captureless lambda from the state to the member.
template <class Codec, class Member>
constexpr Field field(const char* key, Member) {
    return {key, [](const Value& v, DeviceState& s) { return Codec::read(v, Member{}(s)); },
            [](const DeviceState& s) { return Codec::write(Member{}(s)); }};
}

// A row: the stored key (key null: none of its own) and the key a user sets (settable false: none).
struct Row {
    Field stored;
    HardwareKey user;
    bool settable;
};

using T = HardwareType;
#define STORED(codec, key, member) \
    field<codec>(                  \
        key, [](auto& s) -> auto& { return s.member; })
// A device.plist key a user sets as it is stored.
#define SET(codec, key, member, type, min, max, meaning) \
    Row { STORED(codec, key, member), HardwareKey{key, T::type, min, max, meaning, key}, true }
// A device.plist key only the device itself sets.
#define KEPT(codec, key, member) \
    Row { STORED(codec, key, member), HardwareKey{}, false }
// A key a user sets that is worked into another stored key.
#define DERIVED(key, type, meaning, changes) \
    Row { Field{}, HardwareKey{key, T::type, 0, 0, meaning, changes}, true }

// Both directions of device.plist, and every key `device set` takes, come from this one table.
const Row kRows[] = {
    SET(Text, "carrier", carrier, OptionalString, 0, 0, "the carrier name of the service item"),
    SET(Truth, "simInserted", simInserted, Bool, 0, 0, "a SIM card is in (false: \"No SIM\")"),
    SET(Truth, "emergencyOnly", emergencyOnly, Bool, 0, 0, "the network grants emergency calls only"),
    SET(Integer, "signalBars", signalBars, Int, 0, 5, "cellular signal bars"),
    SET(Integer, "cellularDataType", cellularDataType, Int, 0, 8,
        "data connection: 0 none, 1 GPRS, 2 EDGE, 3 3G, 4 4G, 5 1x, 6 LTE, 7 Wi-Fi, 8 Hotspot"),
    SET(Truth, "airplaneMode", airplaneMode, Bool, 0, 0, "airplane mode"),
    SET(Text, "wifiNetwork", wifiNetwork, OptionalString, 0, 0, "the Wi-Fi network joined"),
    SET(Integer, "wifiBars", wifiBars, Int, 0, 3, "Wi-Fi bars"),
    KEPT(Interfaces, "interfaces", interfaces),
    DERIVED("wifiAddress", Ipv4, "the Wi-Fi IPv4 address (en0)", "interfaces (en0 ipv4 row)"),
    DERIVED("wifiAddress6", Ipv6, "the Wi-Fi IPv6 address (en0)", "interfaces (en0 ipv6 row)"),
    DERIVED("cellularAddress", Ipv4, "the cellular data IPv4 address (pdp_ip0)", "interfaces (pdp_ip0 ipv4 row)"),
    SET(Truth, "interfacesReadable", interfacesReadable, Bool, 0, 0, "false: getifaddrs fails"),
    SET(Truth, "tethering", tethering, Bool, 0, 0, "personal hotspot is on"),
    SET(Integer, "tetheredDevices", tetheredDevices, Int, 0, 2147483647, "devices connected to the hotspot"),
    SET(Integer, "batteryLevel", batteryLevel, Int, 0, 100, "battery charge in percent"),
    SET(Truth, "charging", charging, Bool, 0, 0, "the battery is charging"),
    SET(Truth, "bluetooth", bluetooth, Bool, 0, 0, "Bluetooth is on"),
    SET(OptionalInteger, "bluetoothBatteryLevel", bluetoothBatteryLevel, OptionalInt, 0, 100,
        "a connected headset's battery in percent"),
    SET(Truth, "doNotDisturb", doNotDisturb, Bool, 0, 0, "Do Not Disturb"),
    SET(Truth, "tty", tty, Bool, 0, 0, "TTY"),
    SET(Truth, "alarm", alarm, Bool, 0, 0, "an alarm is set"),
    SET(Truth, "location", location, Bool, 0, 0, "location services are in use"),
    SET(Truth, "rotationLock", rotationLock, Bool, 0, 0, "portrait orientation lock"),
    SET(Truth, "airplay", airplay, Bool, 0, 0, "AirPlay"),
    SET(Truth, "assistant", assistant, Bool, 0, 0, "Siri"),
    SET(Truth, "vpn", vpn, Bool, 0, 0, "VPN"),
    SET(Truth, "callForwarding", callForwarding, Bool, 0, 0, "call forwarding"),
    SET(Truth, "networkActivity", networkActivity, Bool, 0, 0, "the network activity spinner"),
    SET(Truth, "mediaPlaying", mediaPlaying, Bool, 0, 0, "music is playing"),
    SET(Text, "nowPlayingArtist", nowPlayingArtist, OptionalString, 0, 0, "the artist of the track playing"),
    SET(Text, "nowPlayingTitle", nowPlayingTitle, OptionalString, 0, 0, "the title of the track playing"),
    SET(Count, "memoryPageSize", memory.pageSize, Int, 1, kNoUpperBound, "the memory page size in bytes"),
    SET(Count, "memoryFreePages", memory.freePages, Int, 0, kNoUpperBound, "free memory pages"),
    SET(Count, "memoryInactivePages", memory.inactivePages, Int, 0, kNoUpperBound, "inactive memory pages"),
    SET(Truth, "memoryReadable", memory.readable, Bool, 0, 0, "false: reading the memory statistics fails"),
    SET(Real, "coreFoundationVersionNumber", coreFoundationVersionNumber, Real, 0, 0,
        "kCFCoreFoundationVersionNumber (847.20 is iOS 7.0)"),
    SET(Strings, "installedApps", installedApps, StringList, 0, 0, "apps that answer URL schemes (bundle identifiers)"),
    KEPT(Truth, "locked", locked),
    KEPT(Real, "clockOffset", clockOffset),
    DERIVED("clock", Clock, "the wall clock: set to this time (today for HH:MM), it runs on from it; live: the machine's",
            "clockOffset"),
};

#undef DERIVED
#undef KEPT
#undef SET
#undef STORED

}  // namespace

void DeviceState::apply(const Dictionary& values, std::vector<std::string>* ignored) {
    for (const auto& [key, v] : values) {
        const Field* f = nullptr;
        for (const Row& row : kRows)
            if (row.stored.key && key == row.stored.key) f = &row.stored;
        bool ok = f && f->read(v, *this);
        if (!ok && ignored) ignored->push_back(key);
    }
}

Dictionary DeviceState::toDictionary() const {
    Dictionary d;
    for (const Row& row : kRows)
        if (row.stored.key)
            if (auto v = row.stored.write(*this)) d[row.stored.key] = std::move(*v);
    return d;
}

std::span<const HardwareKey> hardwareKeys() {
    static const std::vector<HardwareKey> keys = [] {
        std::vector<HardwareKey> settable;
        for (const Row& row : kRows)
            if (row.settable) settable.push_back(row.user);
        return settable;
    }();
    return keys;
}

}  // namespace platform
