#include "platform/foundation/plist.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace platform {
namespace {

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// A buffer one of libplist's encoders made, freed by that encoder's own free.
struct Encoded {
    std::unique_ptr<char, void (*)(char*)> buffer;
    uint32_t length;
};

std::optional<Encoded> encode(plist_t tree, void (*encoder)(plist_t, char**, uint32_t*), void (*release)(char*)) {
    char* buffer = nullptr;  // the encoders write nothing unless this starts as NULL
    uint32_t length = 0;
    encoder(tree, &buffer, &length);
    if (!buffer) return std::nullopt;
    return Encoded{{buffer, release}, length};
}

// libplist walks and frees trees recursively: refuse deep XML before it sees it.
bool xmlNestingWithin(std::span<const uint8_t> bytes, int limit) {
    int depth = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] != '<') continue;
        bool closing = bytes[i + 1] == '/';
        size_t j = i + (closing ? 2 : 1);
        auto word = [&](const char* w) {
            size_t n = std::strlen(w);
            return j + n <= bytes.size() && std::memcmp(bytes.data() + j, w, n) == 0;
        };
        size_t n = word("array") ? 5 : word("dict") ? 4 : 0;
        if (!n) continue;
        size_t k = j + n;
        while (k < bytes.size() && bytes[k] != '>') ++k;
        bool selfClosing = k > 0 && k < bytes.size() && bytes[k - 1] == '/';
        if (closing)
            --depth;
        else if (!selfClosing && ++depth > limit)
            return false;
    }
    return true;
}

// libplist 2.2 writes every integer node it makes in eight bytes, which readers take as signed;
// a node parsed from text keeps the sixteen-byte form an unsigned value above INT64_MAX needs.
plist_t newLargeUnsigned(uint64_t u) {
    std::string xml = "<plist><integer>" + std::to_string(u) + "</integer></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.c_str(), static_cast<uint32_t>(xml.size()), &node);
    return node;
}

plist_t toPlist(const Value& v, int depth) {
    if (depth > kMaxPlistDepth) return nullptr;
    switch (v.kind()) {
    case Value::Kind::Boolean: return plist_new_bool(*v.boolean());
    case Value::Kind::Integer:
        if (v.isLargeUnsigned()) return newLargeUnsigned(static_cast<uint64_t>(*v.integer()));
        return plist_new_uint(static_cast<uint64_t>(*v.integer()));
    case Value::Kind::Real: return plist_new_real(*v.real());
    case Value::Kind::String: return plist_new_string(v.string()->c_str());
    case Value::Kind::Data: {
        const auto& b = v.data()->bytes;
        return plist_new_data(reinterpret_cast<const char*>(b.data()), b.size());
    }
    case Value::Kind::Date: {
        // libplist takes whole seconds as int32: dates past 2069 or before 1933 (no preference
        // holds one) are clamped rather than converted out of range.
        double s = v.date()->secondsSince2001;
        if (!std::isfinite(s)) s = 0;
        s = std::clamp(s, double{INT32_MIN}, double{INT32_MAX});
        auto sec = static_cast<int32_t>(s);
        return plist_new_date(sec, static_cast<int32_t>((s - sec) * 1e6));
    }
    case Value::Kind::Array: {
        PlistPtr a(plist_new_array());
        for (const auto& item : *v.array()) {
            plist_t child = toPlist(item, depth + 1);
            if (!child) return nullptr;
            plist_array_append_item(a.get(), child);
        }
        return a.release();
    }
    case Value::Kind::Dictionary: {
        PlistPtr d(plist_new_dict());
        for (const auto& [key, item] : *v.dictionary()) {
            plist_t child = toPlist(item, depth + 1);
            if (!child) return nullptr;
            plist_dict_set_item(d.get(), key.c_str(), child);
        }
        return d.release();
    }
    }
    return nullptr;
}

}  // namespace

std::optional<Value> parsePropertyList(std::span<const uint8_t> bytes) {
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "bplist00", 8) == 0) return parseBinaryPropertyList(bytes);
    if (looksLikeTextPropertyList(bytes)) {
        if (auto text = parseTextPropertyList(bytes)) return text;
        // Not text after all: whatever libplist's XML reader made of it before still reads.
    }
    if (bytes.empty() || bytes.size() > UINT32_MAX) return std::nullopt;
    if (!xmlNestingWithin(bytes, kMaxPlistDepth)) return std::nullopt;
    plist_t raw = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()), &raw);
    PlistPtr tree(raw);
    if (!tree) return std::nullopt;
    // Let libplist re-encode and read the result with our reader: one conversion path, and
    // none of libplist's string getters, which abort on an embedded U+0000.
    auto bin = encode(tree.get(), plist_to_bin, plist_to_bin_free);
    if (!bin) return std::nullopt;
    return parseBinaryPropertyList({reinterpret_cast<const uint8_t*>(bin->buffer.get()), bin->length});
}

std::optional<Dictionary> parsePropertyListKeys(std::span<const uint8_t> bytes, const std::vector<std::string_view>& keys) {
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "bplist00", 8) == 0) return parseBinaryPropertyListKeys(bytes, keys);
    auto value = parsePropertyList(bytes);
    if (!value || !value->isDictionary()) return std::nullopt;
    Dictionary out;
    for (auto k : keys) {
        auto it = value->dictionary()->find(std::string(k));
        if (it != value->dictionary()->end()) out.insert_or_assign(it->first, std::move(it->second));
    }
    return out;
}

std::optional<std::vector<uint8_t>> serializeBinaryPropertyList(const Value& value) {
    PlistPtr tree(toPlist(value, 0));
    if (!tree) return std::nullopt;
    auto bin = encode(tree.get(), plist_to_bin, plist_to_bin_free);
    if (!bin) return std::nullopt;
    return std::vector<uint8_t>(bin->buffer.get(), bin->buffer.get() + bin->length);
}

std::optional<std::string> serializeXmlPropertyList(const Value& value) {
    PlistPtr tree(toPlist(value, 0));
    if (!tree) return std::nullopt;
    auto xml = encode(tree.get(), plist_to_xml, plist_to_xml_free);
    if (!xml) return std::nullopt;
    return std::string(xml->buffer.get(), xml->length);
}

}  // namespace platform
