#include "sim/common/hardware_keys.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <ctime>
#include <optional>

#include "sim/common/device.h"
#include "sim/common/safety.h"
#include "sim/common/usage.h"

namespace vantrel::sim {
namespace {

using T = HardwareType;

bool isNone(const platform::Value& v) {
    if (auto b = v.boolean()) return !*b;  // false: the bus's "absent"
    return v.string() && *v.string() == "none";
}

std::optional<long long> wholeNumber(std::string_view text) {
    long long n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return n;
}

std::optional<bool> truth(const platform::Value& v) {
    if (auto b = v.boolean()) return *b;
    if (auto i = v.integer(); i && (*i == 0 || *i == 1)) return *i == 1;
    if (!v.string()) return std::nullopt;
    return truthWord(*v.string());
}

std::optional<long long> integer(const HardwareKey& key, const platform::Value& v) {
    std::optional<long long> n;
    if (auto i = v.integer(); i && !v.isLargeUnsigned())
        n = *i;
    else if (v.string())
        n = wholeNumber(*v.string());
    if (!n || *n < key.min || *n > key.max) return std::nullopt;
    return n;
}

std::optional<double> real(const HardwareKey& key, const platform::Value& v) {
    std::optional<double> d;
    if (auto r = v.real())
        d = *r;
    else if (auto i = v.integer())
        d = static_cast<double>(*i);
    else if (auto s = v.string(); s && !s->empty()) {
        double parsed = 0;
        auto [end, ec] = std::from_chars(s->data(), s->data() + s->size(), parsed);
        if (ec == std::errc() && end == s->data() + s->size()) d = parsed;
    }
    if (!d || !std::isfinite(*d) || *d < static_cast<double>(key.min)) return std::nullopt;
    return d;
}

bool boundedText(const platform::Value& v) { return v.string() && v.string()->size() <= kMaxHardwareText; }

// A value quoted back in a refusal: enough to recognise it, never the whole of a flood.
std::string echo(std::string_view text) {
    constexpr size_t kShown = 64;
    std::string shown = printable(text.substr(0, kShown));
    return text.size() > kShown ? shown + "... (" + std::to_string(text.size()) + " bytes)" : shown;
}

// [a,b,c] (or a,b,c) as typed, or a list of strings from the bus.
std::optional<platform::Value> stringList(const platform::Value& v) {
    platform::Array items;
    if (auto a = v.array()) {
        if (a->size() > kMaxHardwareListItems) return std::nullopt;
        for (const auto& item : *a) {
            if (!boundedText(item)) return std::nullopt;
            items.push_back(item);
        }
        return platform::Value(std::move(items));
    }
    if (!v.string() || v.string()->size() > kMaxHardwareText * kMaxHardwareListItems) return std::nullopt;
    std::string text = *v.string();
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    for (size_t at = 0; at <= text.size();) {
        size_t comma = std::min(text.find(',', at), text.size());
        std::string item = text.substr(at, comma - at);
        item.erase(0, item.find_first_not_of(' '));
        item.erase(item.find_last_not_of(' ') + 1);
        if (item.size() > kMaxHardwareText || items.size() == kMaxHardwareListItems) return std::nullopt;
        if (!item.empty()) items.push_back(item);
        at = comma + 1;
    }
    return platform::Value(std::move(items));
}

std::optional<std::string> address(int family, const platform::Value& v) {
    if (!v.string()) return std::nullopt;
    unsigned char bytes[16];
    if (::inet_pton(family, v.string()->c_str(), bytes) != 1) return std::nullopt;
    char text[INET6_ADDRSTRLEN];
    if (!::inet_ntop(family, bytes, text, sizeof text)) return std::nullopt;
    return std::string(text);
}

// The clock's offset from machineNow, or nullopt when the text is no time. "live" is 0.
std::optional<double> clockOffset(const platform::Value& v, double machineNow) {
    if (!v.string()) return std::nullopt;
    const std::string& s = *v.string();
    if (s == "live") return 0.0;
    std::time_t now = static_cast<std::time_t>(machineNow);
    std::tm tm{};
    if (!::localtime_r(&now, &tm)) return std::nullopt;
    int year = tm.tm_year + 1900, month = tm.tm_mon + 1, day = tm.tm_mday, hour = 0, minute = 0, second = 0;
    auto digits = [&](size_t at, size_t n, int& out) {
        if (at + n > s.size()) return false;
        auto parsed = wholeNumber(std::string_view(s).substr(at, n));
        if (!parsed || !std::all_of(s.begin() + static_cast<long>(at), s.begin() + static_cast<long>(at + n),
                                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
            return false;
        out = static_cast<int>(*parsed);
        return true;
    };
    size_t at = 0;
    if (s.size() >= 11 && s[4] == '-') {
        if (!digits(0, 4, year) || s[4] != '-' || !digits(5, 2, month) || s[7] != '-' || !digits(8, 2, day) || s[10] != 'T')
            return std::nullopt;
        at = 11;
    }
    if (!digits(at, 2, hour) || at + 2 >= s.size() || s[at + 2] != ':' || !digits(at + 3, 2, minute)) return std::nullopt;
    size_t end = at + 5;
    if (end < s.size()) {
        if (s[end] != ':' || !digits(end + 1, 2, second)) return std::nullopt;
        end += 3;
    }
    if (end != s.size() || hour > 23 || minute > 59 || second > 59 || month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    std::tm want{};
    want.tm_year = year - 1900;
    want.tm_mon = month - 1;
    want.tm_mday = day;
    want.tm_hour = hour;
    want.tm_min = minute;
    want.tm_sec = second;
    want.tm_isdst = -1;
    std::time_t target = ::mktime(&want);
    // mktime moves an impossible date (February 30) on: that is no date.
    if (target == static_cast<std::time_t>(-1) || want.tm_mday != day || want.tm_mon != month - 1) return std::nullopt;
    return static_cast<double>(target) - machineNow;
}

// The interface table with one row of (name, family) set to text, or removed when none.
void setAddress(std::vector<platform::DeviceInterface>& table, const char* name, const char* family,
                const std::optional<std::string>& text) {
    auto row = [&](const platform::DeviceInterface& i) { return i.name == name && i.family == family; };
    auto first = std::find_if(table.begin(), table.end(), row);
    if (text && first != table.end()) {
        first->address = *text;
        first->up = true;
        table.erase(std::remove_if(first + 1, table.end(), row), table.end());
    } else if (text) {
        // After the interface's other rows, as the system lists an address added to it.
        auto last = std::find_if(table.rbegin(), table.rend(), [&](const auto& i) { return i.name == name; });
        table.insert(last.base(), platform::DeviceInterface{name, family, *text, true, false});
    } else {
        table.erase(std::remove_if(table.begin(), table.end(), row), table.end());
    }
}

platform::Value interfaceRows(const std::vector<platform::DeviceInterface>& table) {
    platform::DeviceState s;
    s.interfaces = table;
    return *platform::lookup(s.toDictionary(), "interfaces");
}

}  // namespace

const HardwareKey* findHardwareKey(std::string_view name) {
    for (const auto& k : hardwareKeys())
        if (k.name == name) return &k;
    return nullptr;
}

std::string_view typeName(HardwareType type) {
    switch (type) {
    case T::Bool: return "bool";
    case T::Int: return "int";
    case T::OptionalInt: return "int or none";
    case T::String: return "string";
    case T::OptionalString: return "string or none";
    case T::Real: return "real";
    case T::StringList: return "list";
    case T::Ipv4: return "ipv4";
    case T::Ipv6: return "ipv6";
    case T::Clock: return "clock";
    }
    return "?";
}

std::string validValues(const HardwareKey& key) {
    auto range = [&] {
        if (key.max == kNoUpperBound) return ">= " + std::to_string(key.min);
        return std::to_string(key.min) + "-" + std::to_string(key.max);
    };
    switch (key.type) {
    case T::Bool: return "true/false";
    case T::Int: return range();
    case T::OptionalInt: return range() + " or none";
    case T::String: return "text of up to " + std::to_string(kMaxHardwareText) + " bytes";
    case T::OptionalString: return "text of up to " + std::to_string(kMaxHardwareText) + " bytes, or none";
    case T::Real: return "number >= " + std::to_string(key.min);
    case T::StringList:
        return "[a,b,...] of up to " + std::to_string(kMaxHardwareListItems) + " texts of " + std::to_string(kMaxHardwareText) +
               " bytes";
    case T::Ipv4: return "IPv4 address or none";
    case T::Ipv6: return "IPv6 address or none";
    case T::Clock: return "HH:MM[:SS], YYYY-MM-DDTHH:MM[:SS], live";
    }
    return "";
}

Result<platform::Dictionary> hardwareEntries(const platform::Dictionary& changes, const platform::DeviceState& base,
                                             double machineNow) {
    platform::Dictionary entries;
    std::vector<platform::DeviceInterface> interfaces = base.interfaces;
    bool interfacesChanged = false;
    std::string bad;
    size_t badCount = 0;
    constexpr size_t kNamedRefusals = 10;
    for (const auto& [name, value] : changes) {
        const HardwareKey* key = findHardwareKey(name);
        std::optional<platform::Value> entry;
        if (key) switch (key->type) {
            case T::Bool:
                if (auto b = truth(value)) entry = *b;
                break;
            case T::Int:
                if (auto i = integer(*key, value)) entry = *i;
                break;
            case T::OptionalInt:
                if (isNone(value))
                    entry = false;
                else if (auto i = integer(*key, value))
                    entry = *i;
                break;
            case T::String:
                if (boundedText(value)) entry = value;
                break;
            case T::OptionalString:
                if (isNone(value))
                    entry = false;
                else if (boundedText(value))
                    entry = value;
                break;
            case T::Real:
                if (auto d = real(*key, value)) entry = *d;
                break;
            case T::StringList: entry = stringList(value); break;
            case T::Ipv4:
            case T::Ipv6: {
                int family = key->type == T::Ipv4 ? AF_INET : AF_INET6;
                std::optional<std::string> text;
                if (!isNone(value) && !(text = address(family, value))) break;
                const char* interface = name == "cellularAddress" ? "pdp_ip0" : "en0";
                setAddress(interfaces, interface, family == AF_INET ? "ipv4" : "ipv6", text);
                interfacesChanged = true;
                entry = true;  // the table is the entry, made once below
                break;
            }
            case T::Clock:
                if (auto offset = clockOffset(value, machineNow)) entry = std::round(*offset * 1000.0) / 1000.0;
                break;
            }
        if (!entry) {
            // The refusal stays a few lines however many keys a peer sends.
            if (++badCount > kNamedRefusals) continue;
            if (!bad.empty()) bad += "; ";
            if (key) {
                bad += name;
                bad += " takes ";
                bad += validValues(*key);
                if (value.string()) bad += " (not " + echo(*value.string()) + ")";
            } else {
                bad += echo(name);
                bad += " is not a hardware key";
                if (name == "locked") bad += " (lock and unlock set it)";
                bad += " (" + deviceCommand(DeviceFolder{}, "keys") + " lists them)";
            }
            continue;
        }
        if (key->type == T::Clock)
            entries["clockOffset"] = std::move(*entry);
        else if (key->type != T::Ipv4 && key->type != T::Ipv6)
            entries[name] = std::move(*entry);
    }
    if (badCount > kNamedRefusals) bad += "; and " + std::to_string(badCount - kNamedRefusals) + " more";
    if (!bad.empty()) return failure(bad + "; nothing applied", kErrorInvalidArgument);
    if (changes.empty()) return failure("no changes given", kErrorInvalidArgument);
    if (interfacesChanged) entries["interfaces"] = interfaceRows(interfaces);
    return entries;
}

namespace {

std::vector<std::string> keyNames() {
    std::vector<std::string> names;
    for (const auto& k : hardwareKeys()) names.emplace_back(k.name);
    return names;
}

std::vector<std::string> unknownOf(const std::vector<std::string>& names) {
    std::vector<std::string> unknown;
    for (const auto& n : names)
        if (!findHardwareKey(n)) unknown.push_back(n);
    return unknown;
}

}  // namespace

std::string unknownHardwareKeys(const std::vector<std::string>& unknown, std::string_view outcome) {
    const auto names = keyNames();
    std::string text;
    constexpr size_t kNamed = 10;
    for (size_t i = 0; i < unknown.size() && i < kNamed; ++i) {
        text += (i ? "; " : "") + echo(unknown[i]) + " is not a hardware key";
        if (unknown[i] == "locked")
            text += " (lock and unlock set it)";
        else if (auto near = nearest(unknown[i], names))
            text += " (did you mean " + *near + "?)";
    }
    if (unknown.size() > kNamed) text += "; and " + std::to_string(unknown.size() - kNamed) + " more";
    return text + std::string(outcome) + "\nkeys: " + someChoices(names, typedCommand("vantrel-device", "keys"));
}

Json hardwareValue(const HardwareKey& key, const platform::DeviceState& state, double machineNow) {
    if (key.type == T::Clock) {
        if (state.clockOffset == 0) return "live";
        auto t = static_cast<std::time_t>(std::floor(machineNow + state.clockOffset));
        std::tm tm{};
        char text[32] = "";
        if (!::localtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm) == 0) text[0] = '\0';
        return std::string(text);
    }
    if (key.type == T::Ipv4 || key.type == T::Ipv6) {
        const char* interface = key.name == "cellularAddress" ? "pdp_ip0" : "en0";
        const char* family = key.type == T::Ipv4 ? "ipv4" : "ipv6";
        for (const auto& i : state.interfaces)
            if (i.name == interface && i.family == family) return i.address;
        return nullptr;
    }
    const auto stored = state.toDictionary();
    const platform::Value* v = platform::lookup(stored, std::string(key.changes));
    if (!v) return nullptr;  // an absent text or level: none
    return jsonFrom(*v);
}

Json hardwareKeyJson(const HardwareKey& k) {
    Json row = {{"key", std::string(k.name)},
                {"type", std::string(typeName(k.type))},
                {"values", validValues(k)},
                {"meaning", std::string(k.meaning)},
                {"default", hardwareValue(k, platform::DeviceState{}, 0)},
                {"changes", std::string(k.changes)}};
    if (k.type == HardwareType::Int || k.type == HardwareType::OptionalInt) {
        row["min"] = k.min;
        row["max"] = k.max == kNoUpperBound ? Json() : Json(k.max);
    }
    return row;
}

std::string hardwareWord(const Json& value) {
    if (value.is_null()) return "none";
    if (value.is_string()) return value.get<std::string>();
    if (value.is_array()) {
        std::string list;
        for (const auto& item : value) list += (list.empty() ? "" : ",") + hardwareWord(item);
        return "[" + list + "]";
    }
    return value.dump();
}

Result<Json> hardwareValues(const std::vector<std::string>& names, const platform::DeviceState& state, double machineNow) {
    if (names.empty()) return failure("no keys given", kErrorInvalidArgument);
    if (auto unknown = unknownOf(names); !unknown.empty())
        return failure(unknownHardwareKeys(unknown, ""), kErrorInvalidArgument);
    Json values = Json::object();
    for (const auto& n : names) values[n] = hardwareValue(*findHardwareKey(n), state, machineNow);
    return values;
}

Result<platform::Dictionary> hardwareDefaults(const std::vector<std::string>& names) {
    if (names.empty()) return failure("no keys given", kErrorInvalidArgument);
    if (auto unknown = unknownOf(names); !unknown.empty())
        return failure(unknownHardwareKeys(unknown, "; nothing reset"), kErrorInvalidArgument);
    const platform::DeviceState fresh;
    platform::Dictionary changes;
    for (const auto& n : names) {
        Json v = hardwareValue(*findHardwareKey(n), fresh, 0);
        if (v.is_array()) {
            platform::Array items;
            for (const auto& item : v) items.emplace_back(item.get<std::string>());
            changes[n] = platform::Value(std::move(items));
        } else if (v.is_boolean()) {
            changes[n] = platform::Value(v.get<bool>());
        } else if (v.is_number_integer()) {
            changes[n] = platform::Value(v.get<long long>());
        } else if (v.is_number()) {
            changes[n] = platform::Value(v.get<double>());
        } else {
            changes[n] = platform::Value(hardwareWord(v));
        }
    }
    return changes;
}

}  // namespace vantrel::sim
