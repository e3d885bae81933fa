#include "platform/foundation/dbus_userinfo.h"

#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include <systemd/sd-bus.h>

#include "platform/foundation/log.h"

namespace platform {
namespace {

constexpr char kDateSignature[] = "(d)";
// Container depths in the body "sba{sv}": the userInfo array is 1, an entry 2, its variant 3. An
// array value adds two (a, v), a dictionary three (a, e, v).
constexpr int kEntryVariantDepth = 3;

// Whether a value whose variant sits at `depth` fits within the bus's nesting limit; stops
// descending at the limit, so a value built deeper than any stack can hold is answered quickly.
bool withinDepth(const Value& v, int depth) {
    if (depth > kMaxUserInfoNesting) return false;
    if (v.isBoolean() || v.isNumber() || v.isString()) return true;
    if (depth + 1 > kMaxUserInfoNesting) return false;
    if (auto a = v.array()) {
        for (const auto& e : *a)
            if (!withinDepth(e, depth + 2)) return false;
    } else if (auto d = v.dictionary()) {
        for (const auto& [key, e] : *d)
            if (!withinDepth(e, depth + 3)) return false;
    }
    return true;
}

bool appendEntries(sd_bus_message* m, const Dictionary& dict, int depth);

// One value as a variant.
bool appendVariant(sd_bus_message* m, const Value& v, int depth) {
    int r = 0;
    switch (v.kind()) {
    case Value::Kind::Boolean: r = sd_bus_message_append(m, "v", "b", *v.boolean() ? 1 : 0); break;
    case Value::Kind::Integer: {
        int64_t i = *v.integer();
        if (v.isLargeUnsigned())
            r = sd_bus_message_append(m, "v", "t", static_cast<uint64_t>(i));
        else if (i >= std::numeric_limits<int32_t>::min() && i <= std::numeric_limits<int32_t>::max())
            r = sd_bus_message_append(m, "v", "i", static_cast<int32_t>(i));
        else
            r = sd_bus_message_append(m, "v", "x", i);
        break;
    }
    case Value::Kind::Real: r = sd_bus_message_append(m, "v", "d", *v.real()); break;
    case Value::Kind::String: r = sd_bus_message_append(m, "v", "s", v.string()->c_str()); break;
    case Value::Kind::Data: {
        const auto& bytes = v.data()->bytes;
        r = sd_bus_message_open_container(m, 'v', "ay");
        if (r >= 0) r = sd_bus_message_append_array(m, 'y', bytes.data(), bytes.size());
        if (r >= 0) r = sd_bus_message_close_container(m);
        break;
    }
    case Value::Kind::Date: r = sd_bus_message_append(m, "v", kDateSignature, v.date()->secondsSince2001); break;
    case Value::Kind::Array:
        r = sd_bus_message_open_container(m, 'v', "av");
        if (r >= 0) r = sd_bus_message_open_container(m, 'a', "v");
        for (const auto& e : *v.array())
            if (r >= 0 && !appendVariant(m, e, depth + 2)) r = -EINVAL;
        if (r >= 0) r = sd_bus_message_close_container(m);
        if (r >= 0) r = sd_bus_message_close_container(m);
        break;
    case Value::Kind::Dictionary:
        r = sd_bus_message_open_container(m, 'v', "a{sv}");
        if (r >= 0 && !appendEntries(m, *v.dictionary(), depth + 3)) r = -EINVAL;
        if (r >= 0) r = sd_bus_message_close_container(m);
        break;
    }
    return r >= 0;
}

// A dictionary as a{sv}, its values' variants at `depth`.
bool appendEntries(sd_bus_message* m, const Dictionary& dict, int depth) {
    if (sd_bus_message_open_container(m, 'a', "{sv}") < 0) return false;
    for (const auto& [key, value] : dict) {
        if (sd_bus_message_open_container(m, 'e', "sv") < 0) return false;
        if (sd_bus_message_append(m, "s", key.c_str()) < 0) return false;
        if (!appendVariant(m, value, depth)) return false;
        if (sd_bus_message_close_container(m) < 0) return false;
    }
    return sd_bus_message_close_container(m) >= 0;
}

// Entries left out of a userInfo; one log line for all of them, so a large signal does not
// become a line per entry.
struct LeftOut {
    size_t count = 0;
    std::string first;
    ~LeftOut() {
        if (count) NSLog("%zu userInfo entries of types notifications do not carry left out (first: %s)", count, first.c_str());
    }
};

// Reads variants; a part it will not read (an unknown signature, or too deep) is skipped and
// remembered, so the entry holding it is left out whole rather than changed.
struct Reader {
    sd_bus_message* m;
    std::string refused;  // signature of the first part skipped in the current entry

    // Reads the variant at the message's position, which sits at `depth`; < 0 when the message
    // is malformed.
    int variant(std::optional<Value>& out, int depth) {
        if (depth > kMaxUserInfoNesting) return skip("v");
        const char* contents = nullptr;
        char type = 0;
        if (sd_bus_message_peek_type(m, &type, &contents) < 0 || type != 'v' || !contents) return -EBADMSG;
        std::string sig = contents;
        if (sd_bus_message_enter_container(m, 'v', contents) < 0) return -EBADMSG;
        int r = contained(sig, out, depth);
        if (r < 0) return r;
        return sd_bus_message_exit_container(m);
    }

    int contained(const std::string& sig, std::optional<Value>& out, int depth) {
        if (sig.size() == 1) return basic(sig[0], out);
        if (depth + 1 > kMaxUserInfoNesting) return skip(sig);
        if (sig != "ay" && sig != kDateSignature && sig != "av" && sig != "a{sv}") return skip(sig);
        if (sig == "ay") {
            const void* bytes = nullptr;
            size_t size = 0;
            int r = sd_bus_message_read_array(m, 'y', &bytes, &size);
            if (r < 0) return r;
            auto* p = static_cast<const uint8_t*>(bytes);
            out = Value(Data{std::vector<uint8_t>(p, p + size)});
            return 0;
        }
        if (sig == kDateSignature) {
            double seconds = 0;
            int r = sd_bus_message_read(m, kDateSignature, &seconds);
            if (r < 0) return r;
            out = Value(Date{seconds});
            return 0;
        }
        if (sig == "av") {
            if (sd_bus_message_enter_container(m, 'a', "v") < 0) return -EBADMSG;
            Array items;
            while (sd_bus_message_at_end(m, 0) == 0) {
                std::optional<Value> item;
                int r = variant(item, depth + 2);
                if (r < 0) return r;
                if (item) items.push_back(std::move(*item));
            }
            out = Value(std::move(items));
            return sd_bus_message_exit_container(m);
        }
        Dictionary dict;
        int r = entries(dict, depth + 3, nullptr);
        if (r < 0) return r;
        out = Value(std::move(dict));
        return 0;
    }

    int basic(char type, std::optional<Value>& out) {
        union {
            int b;
            int32_t i;
            int64_t x;
            uint32_t u;
            uint64_t t;
            int16_t n;
            uint16_t q;
            uint8_t y;
            double d;
            const char* s;
        } v{};
        const char sig[2] = {type, 0};
        if (std::string_view("bixutnqyds").find(type) == std::string_view::npos) return skip(sig);
        int r = sd_bus_message_read_basic(m, type, &v);
        if (r < 0) return r;
        switch (type) {
        case 'b': out = Value(v.b != 0); break;
        case 'i': out = Value(static_cast<long long>(v.i)); break;
        case 'x': out = Value(static_cast<long long>(v.x)); break;
        case 'u': out = Value(static_cast<long long>(v.u)); break;
        case 't': out = Value::unsignedInteger(v.t); break;
        case 'n': out = Value(static_cast<long long>(v.n)); break;
        case 'q': out = Value(static_cast<long long>(v.q)); break;
        case 'y': out = Value(static_cast<long long>(v.y)); break;
        case 'd': out = Value(v.d); break;
        default:
            if (v.s) out = Value(std::string(v.s));
            break;
        }
        return 0;
    }

    int skip(const std::string& sig) {
        if (refused.empty()) refused = sig;
        return sd_bus_message_skip(m, sig.c_str());
    }

    // The a{sv} at the message's position, its values' variants at `depth`. With `leftOut`, an entry with a
    // refused part is dropped and counted there; without, the refusal passes to the caller.
    int entries(Dictionary& dict, int depth, LeftOut* leftOut) {
        if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return -EBADMSG;
        for (;;) {
            int r = sd_bus_message_enter_container(m, 'e', "sv");
            if (r < 0) return r;
            if (r == 0) break;
            const char* key = nullptr;
            if (sd_bus_message_read(m, "s", &key) < 0 || !key) return -EBADMSG;
            std::optional<Value> value;
            if (leftOut) refused.clear();
            r = variant(value, depth);
            if (r < 0) return r;
            if (sd_bus_message_exit_container(m) < 0) return -EBADMSG;
            if (leftOut && !refused.empty()) {
                if (leftOut->count++ == 0) leftOut->first = std::string(key) + " of type " + refused;
                continue;
            }
            if (value) dict[key] = std::move(*value);
        }
        return sd_bus_message_exit_container(m);
    }
};

}  // namespace

bool appendUserInfo(sd_bus_message* m, const Dictionary& userInfo) {
    if (sd_bus_message_open_container(m, 'a', "{sv}") < 0) return false;
    for (const auto& [key, value] : userInfo) {
        if (!withinDepth(value, kEntryVariantDepth)) {
            NSLog("userInfo entry %s is of a kind notifications do not carry; left out", key.c_str());
            continue;
        }
        if (sd_bus_message_open_container(m, 'e', "sv") < 0) return false;
        if (sd_bus_message_append(m, "s", key.c_str()) < 0) return false;
        if (!appendVariant(m, value, kEntryVariantDepth)) return false;
        if (sd_bus_message_close_container(m) < 0) return false;
    }
    return sd_bus_message_close_container(m) >= 0;
}

bool readUserInfo(sd_bus_message* m, Dictionary& userInfo) {
    LeftOut leftOut;
    Reader reader{m, {}};
    return reader.entries(userInfo, kEntryVariantDepth, &leftOut) >= 0;
}

}  // namespace platform
