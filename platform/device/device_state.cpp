#include "platform/device/device_state.h"

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

}  // namespace

void DeviceState::apply(const Dictionary& values, std::vector<std::string>* ignored) {
    for (const auto& [key, v] : values) {
        bool ok = false;
        if (key == "carrier") ok = text(v, carrier);
        else if (key == "simInserted") ok = truth(v, simInserted);
        else if (key == "emergencyOnly") ok = truth(v, emergencyOnly);
        else if (key == "signalBars") ok = integer(v, signalBars);
        else if (key == "cellularDataType") ok = integer(v, cellularDataType);
        else if (key == "airplaneMode") ok = truth(v, airplaneMode);
        else if (key == "wifiNetwork") ok = text(v, wifiNetwork);
        else if (key == "wifiBars") ok = integer(v, wifiBars);
        else if (key == "tethering") ok = truth(v, tethering);
        else if (key == "tetheredDevices") ok = integer(v, tetheredDevices);
        else if (key == "batteryLevel") ok = integer(v, batteryLevel);
        else if (key == "charging") ok = truth(v, charging);
        else if (key == "bluetooth") ok = truth(v, bluetooth);
        else if (key == "bluetoothBatteryLevel") {
            int lv = 0;
            if (integer(v, lv)) ok = true, bluetoothBatteryLevel = lv;
            else if (auto b = v.boolean(); b && !*b) ok = true, bluetoothBatteryLevel.reset();
        }
        else if (key == "doNotDisturb") ok = truth(v, doNotDisturb);
        else if (key == "tty") ok = truth(v, tty);
        else if (key == "alarm") ok = truth(v, alarm);
        else if (key == "location") ok = truth(v, location);
        else if (key == "rotationLock") ok = truth(v, rotationLock);
        else if (key == "airplay") ok = truth(v, airplay);
        else if (key == "assistant") ok = truth(v, assistant);
        else if (key == "vpn") ok = truth(v, vpn);
        else if (key == "callForwarding") ok = truth(v, callForwarding);
        else if (key == "networkActivity") ok = truth(v, networkActivity);
        else if (key == "mediaPlaying") ok = truth(v, mediaPlaying);
        else if (key == "nowPlayingArtist") ok = text(v, nowPlayingArtist);
        else if (key == "nowPlayingTitle") ok = text(v, nowPlayingTitle);
        else if (key == "locked") ok = truth(v, locked);
        else if (key == "interfaces") ok = interfaceTable(v, interfaces);
        else if (key == "interfacesReadable") ok = truth(v, interfacesReadable);
        else if (key == "memoryPageSize") ok = count(v, memory.pageSize);
        else if (key == "memoryFreePages") ok = count(v, memory.freePages);
        else if (key == "memoryInactivePages") ok = count(v, memory.inactivePages);
        else if (key == "memoryReadable") ok = truth(v, memory.readable);
        else if (key == "coreFoundationVersionNumber") {
            if (auto r = v.real()) ok = true, coreFoundationVersionNumber = *r;
            else if (auto i = v.integer()) ok = true, coreFoundationVersionNumber = static_cast<double>(*i);
        }
        else if (key == "installedApps" && v.array()) {
            std::vector<std::string> apps;
            ok = true;
            for (const auto& a : *v.array()) {
                if (!a.string()) ok = false;
                else apps.push_back(*a.string());
            }
            if (ok) installedApps = std::move(apps);
        }
        if (!ok && ignored) ignored->push_back(key);
    }
}

Dictionary DeviceState::toDictionary() const {
    Dictionary d;
    auto opt = [&](const char* k, const std::optional<std::string>& s) {
        if (s) d[k] = *s;
    };
    opt("carrier", carrier);
    d["simInserted"] = simInserted;
    d["emergencyOnly"] = emergencyOnly;
    d["signalBars"] = signalBars;
    d["cellularDataType"] = cellularDataType;
    d["airplaneMode"] = airplaneMode;
    opt("wifiNetwork", wifiNetwork);
    d["wifiBars"] = wifiBars;
    d["tethering"] = tethering;
    d["tetheredDevices"] = tetheredDevices;
    d["batteryLevel"] = batteryLevel;
    d["charging"] = charging;
    d["bluetooth"] = bluetooth;
    if (bluetoothBatteryLevel) d["bluetoothBatteryLevel"] = *bluetoothBatteryLevel;
    d["doNotDisturb"] = doNotDisturb;
    d["tty"] = tty;
    d["alarm"] = alarm;
    d["location"] = location;
    d["rotationLock"] = rotationLock;
    d["airplay"] = airplay;
    d["assistant"] = assistant;
    d["vpn"] = vpn;
    d["callForwarding"] = callForwarding;
    d["networkActivity"] = networkActivity;
    d["mediaPlaying"] = mediaPlaying;
    opt("nowPlayingArtist", nowPlayingArtist);
    opt("nowPlayingTitle", nowPlayingTitle);
    d["locked"] = locked;
    d["coreFoundationVersionNumber"] = coreFoundationVersionNumber;
    Array apps;
    for (const auto& a : installedApps) apps.push_back(a);
    d["installedApps"] = std::move(apps);
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
    d["interfaces"] = std::move(rows);
    d["interfacesReadable"] = interfacesReadable;
    d["memoryPageSize"] = static_cast<long long>(memory.pageSize);
    d["memoryFreePages"] = static_cast<long long>(memory.freePages);
    d["memoryInactivePages"] = static_cast<long long>(memory.inactivePages);
    d["memoryReadable"] = memory.readable;
    return d;
}

}  // namespace platform
