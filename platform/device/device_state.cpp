#include "platform/device/device_state.h"

#include <optional>

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
    static std::optional<Value> write(const std::optional<int>& i) {
        return i ? std::optional<Value>(Value(*i)) : std::nullopt;
    }
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

#define DEVICE_FIELD(codec, key, member) field<codec>(key, [](auto& s) -> auto& { return s.member; })

// Both directions of device.plist come from this one table.
const Field kFields[] = {
    DEVICE_FIELD(Text, "carrier", carrier),
    DEVICE_FIELD(Truth, "simInserted", simInserted),
    DEVICE_FIELD(Truth, "emergencyOnly", emergencyOnly),
    DEVICE_FIELD(Integer, "signalBars", signalBars),
    DEVICE_FIELD(Integer, "cellularDataType", cellularDataType),
    DEVICE_FIELD(Truth, "airplaneMode", airplaneMode),
    DEVICE_FIELD(Text, "wifiNetwork", wifiNetwork),
    DEVICE_FIELD(Integer, "wifiBars", wifiBars),
    DEVICE_FIELD(Truth, "tethering", tethering),
    DEVICE_FIELD(Integer, "tetheredDevices", tetheredDevices),
    DEVICE_FIELD(Integer, "batteryLevel", batteryLevel),
    DEVICE_FIELD(Truth, "charging", charging),
    DEVICE_FIELD(Truth, "bluetooth", bluetooth),
    DEVICE_FIELD(OptionalInteger, "bluetoothBatteryLevel", bluetoothBatteryLevel),
    DEVICE_FIELD(Truth, "doNotDisturb", doNotDisturb),
    DEVICE_FIELD(Truth, "tty", tty),
    DEVICE_FIELD(Truth, "alarm", alarm),
    DEVICE_FIELD(Truth, "location", location),
    DEVICE_FIELD(Truth, "rotationLock", rotationLock),
    DEVICE_FIELD(Truth, "airplay", airplay),
    DEVICE_FIELD(Truth, "assistant", assistant),
    DEVICE_FIELD(Truth, "vpn", vpn),
    DEVICE_FIELD(Truth, "callForwarding", callForwarding),
    DEVICE_FIELD(Truth, "networkActivity", networkActivity),
    DEVICE_FIELD(Truth, "mediaPlaying", mediaPlaying),
    DEVICE_FIELD(Text, "nowPlayingArtist", nowPlayingArtist),
    DEVICE_FIELD(Text, "nowPlayingTitle", nowPlayingTitle),
    DEVICE_FIELD(Truth, "locked", locked),
    DEVICE_FIELD(Real, "clockOffset", clockOffset),
    DEVICE_FIELD(Interfaces, "interfaces", interfaces),
    DEVICE_FIELD(Truth, "interfacesReadable", interfacesReadable),
    DEVICE_FIELD(Count, "memoryPageSize", memory.pageSize),
    DEVICE_FIELD(Count, "memoryFreePages", memory.freePages),
    DEVICE_FIELD(Count, "memoryInactivePages", memory.inactivePages),
    DEVICE_FIELD(Truth, "memoryReadable", memory.readable),
    DEVICE_FIELD(Real, "coreFoundationVersionNumber", coreFoundationVersionNumber),
    DEVICE_FIELD(Strings, "installedApps", installedApps),
};

#undef DEVICE_FIELD

}  // namespace

void DeviceState::apply(const Dictionary& values, std::vector<std::string>* ignored) {
    for (const auto& [key, v] : values) {
        const Field* f = nullptr;
        for (const Field& candidate : kFields)
            if (key == candidate.key) f = &candidate;
        bool ok = f && f->read(v, *this);
        if (!ok && ignored) ignored->push_back(key);
    }
}

Dictionary DeviceState::toDictionary() const {
    Dictionary d;
    for (const Field& f : kFields)
        if (auto v = f.write(*this)) d[f.key] = std::move(*v);
    return d;
}

}  // namespace platform
