// A lean reader of the binary property-list format, version 1.0. Every offset, count and
// reference is checked against the buffer; a reference cycle or too deep a tree is refused.
#include <cmath>
#include <cstring>
#include <string_view>

#include "platform/foundation/plist.h"

namespace platform {
namespace {

class Reader {
public:
    explicit Reader(std::span<const uint8_t> b) : b_(b) {}

    std::optional<Value> run() {
        if (!prepare()) return std::nullopt;
        return object(top_, 0);
    }

    bool prepare() {
        if (b_.size() < 8 + 32 || std::memcmp(b_.data(), "bplist00", 8) != 0) return false;
        const uint8_t* t = b_.data() + b_.size() - 32;
        offsetSize_ = t[6];
        refSize_ = t[7];
        numObjects_ = be(t + 8, 8);
        uint64_t top = be(t + 16, 8);
        tableOffset_ = be(t + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        if (numObjects_ == 0 || top >= numObjects_) return false;
        uint64_t tableEnd = b_.size() - 32;
        if (tableOffset_ < 8 || tableOffset_ > tableEnd) return false;
        if (numObjects_ > (tableEnd - tableOffset_) / offsetSize_) return false;
        onPath_.assign(numObjects_, false);
        top_ = top;
        return true;
    }

private:
    static uint64_t be(const uint8_t* p, unsigned n) {
        uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) v = (v << 8) | p[i];
        return v;
    }

    bool has(uint64_t off, uint64_t len) const {
        uint64_t end = tableOffset_;  // objects lie between the header and the offset table
        return off <= end && len <= end - off;
    }

    std::optional<uint64_t> offsetOf(uint64_t ref) const {
        if (ref >= numObjects_) return std::nullopt;
        uint64_t off = be(b_.data() + tableOffset_ + ref * offsetSize_, offsetSize_);
        if (off < 8 || off >= tableOffset_) return std::nullopt;
        return off;
    }

    // Length of a container or string: the low nibble, or an integer object that follows.
    bool length(uint64_t& pos, uint8_t low, uint64_t& len) const {
        if (low != 0x0F) {
            len = low;
            return true;
        }
        if (!has(pos, 1)) return false;
        uint8_t m = b_[pos];
        if ((m & 0xF0) != 0x10) return false;
        unsigned n = 1u << (m & 0x0F);
        if (n > 8 || !has(pos + 1, n)) return false;
        len = be(b_.data() + pos + 1, n);
        pos += 1 + n;
        return true;
    }

    std::optional<Value> object(uint64_t ref, int depth, bool build = true) {
        // Shared references can make a small file expand without end; bound the work.
        if (depth > kMaxPlistDepth || ++visits_ > kMaxVisits) return std::nullopt;
        auto off = offsetOf(ref);
        if (!off) return std::nullopt;
        uint64_t pos = *off;
        uint8_t marker = b_[pos++];
        uint8_t low = marker & 0x0F;
        switch (marker >> 4) {
        case 0x0:
            if (marker == 0x08) return Value(false);
            if (marker == 0x09) return Value(true);
            return std::nullopt;  // null and fill have no place in a dictionary we read
        case 0x1: {
            unsigned n = 1u << low;
            if (low > 4 || !has(pos, n)) return std::nullopt;
            if (n == 16) {
                // 128-bit: how an unsigned value above INT64_MAX is written (high half zero);
                // anything wider keeps its low 64 bits, as a two's-complement integer.
                uint64_t high = be(b_.data() + pos, 8), low = be(b_.data() + pos + 8, 8);
                if (high == 0) return Value::unsignedInteger(low);
                return Value(static_cast<long long>(low));
            }
            uint64_t v = be(b_.data() + pos, n);
            return Value(static_cast<long long>(v));
        }
        case 0x2: {
            if (low == 2 && has(pos, 4)) {
                uint32_t u = static_cast<uint32_t>(be(b_.data() + pos, 4));
                float f;
                std::memcpy(&f, &u, 4);
                return Value(static_cast<double>(f));
            }
            if (low == 3 && has(pos, 8)) {
                uint64_t u = be(b_.data() + pos, 8);
                double d;
                std::memcpy(&d, &u, 8);
                return Value(d);
            }
            return std::nullopt;
        }
        case 0x3: {
            if (marker != 0x33 || !has(pos, 8)) return std::nullopt;
            uint64_t u = be(b_.data() + pos, 8);
            double d;
            std::memcpy(&d, &u, 8);
            return Value(Date{d});
        }
        case 0x4: {
            uint64_t len;
            if (!length(pos, low, len) || !has(pos, len)) return std::nullopt;
            if (!build) return Value();
            return Value(Data{std::vector<uint8_t>(b_.begin() + pos, b_.begin() + pos + len)});
        }
        case 0x5: {
            uint64_t len;
            if (!length(pos, low, len) || !has(pos, len)) return std::nullopt;
            // One-byte strings are ASCII; a byte above 0x7F means a damaged file, and letting it
            // through would hand invalid UTF-8 to every reader of the text.
            for (uint64_t i = 0; i < len; ++i)
                if (b_[pos + i] >= 0x80) return std::nullopt;
            if (!build) return Value();
            return Value(std::string(reinterpret_cast<const char*>(b_.data() + pos), len));
        }
        case 0x6: {
            uint64_t len;
            if (!length(pos, low, len) || len > b_.size() || !has(pos, len * 2)) return std::nullopt;
            if (!build) return Value();
            return utf16(pos, len);
        }
        case 0xA:
        case 0xD: {
            uint64_t count;
            if (!length(pos, low, count)) return std::nullopt;
            bool dict = (marker >> 4) == 0xD;
            uint64_t refs = dict ? count * 2 : count;
            if (count > b_.size() || !has(pos, refs * refSize_)) return std::nullopt;
            if (onPath_[ref]) return std::nullopt;  // a container that contains itself
            onPath_[ref] = true;
            bool ok;
            if (dict) {
                Dictionary d;
                ok = dictionary(pos, count, depth, build ? Keys::All : Keys::None, nullptr, d);
                out_ = build ? Value(std::move(d)) : Value();
            } else {
                ok = array(pos, count, depth, build, out_);
            }
            onPath_[ref] = false;
            if (!ok) return std::nullopt;
            return std::move(out_);
        }
        default: return std::nullopt;  // UIDs and sets are not preference values
        }
    }

    bool array(uint64_t pos, uint64_t count, int depth, bool build, Value& out) {
        Array a;
        if (build) a.reserve(count);
        for (uint64_t i = 0; i < count; ++i) {
            auto v = object(be(b_.data() + pos + i * refSize_, refSize_), depth + 1, build);
            if (!v) return false;
            if (build) a.push_back(std::move(*v));
        }
        out = build ? Value(std::move(a)) : Value();
        return true;
    }

    // A key of a dictionary: a string object, as text (validated like any object).
    std::optional<std::string> key(uint64_t ref, int depth) {
        auto off = offsetOf(ref);
        if (!off) return std::nullopt;
        uint8_t type = b_[*off] >> 4;
        if (type != 0x5 && type != 0x6) return std::nullopt;
        auto k = object(ref, depth, true);
        if (!k || !k->string()) return std::nullopt;
        return std::move(*k->string());
    }

    // Whether the key object is one of `wanted`, compared in place when it is ASCII.
    bool keyIsWanted(uint64_t ref, const std::vector<std::string_view>& wanted, std::string& text) {
        auto off = offsetOf(ref);
        if (!off) return false;
        uint64_t pos = *off;
        uint8_t marker = b_[pos++];
        if ((marker >> 4) == 0x5) {
            uint64_t len;
            if (!length(pos, marker & 0x0F, len) || !has(pos, len)) return false;
            std::string_view view(reinterpret_cast<const char*>(b_.data() + pos), len);
            for (auto w : wanted)
                if (w == view) {
                    text.assign(view);
                    return true;
                }
            return false;
        }
        auto k = key(ref, 0);
        if (!k) return false;
        for (auto w : wanted)
            if (w == *k) {
                text = std::move(*k);
                return true;
            }
        return false;
    }

public:
    // The root dictionary with only the wanted keys built; the rest is checked, not built, so
    // a file that would not parse whole gives no dictionary here either.
    std::optional<Dictionary> wantedKeys(const std::vector<std::string_view>& wanted) {
        if (!prepare()) return std::nullopt;
        auto off = offsetOf(top_);
        if (!off) return std::nullopt;
        uint64_t pos = *off;
        uint8_t marker = b_[pos++];
        if ((marker >> 4) != 0xD) return std::nullopt;
        uint64_t count;
        if (!length(pos, marker & 0x0F, count) || count > b_.size() || !has(pos, count * 2 * refSize_)) return std::nullopt;
        onPath_[top_] = true;
        Dictionary d;
        if (!dictionary(pos, count, 0, Keys::Wanted, &wanted, d)) return std::nullopt;
        return d;
    }

private:
    // Which entries of a dictionary are built; the others are checked as thoroughly.
    enum class Keys { All, None, Wanted };

    bool dictionary(uint64_t pos, uint64_t count, int depth, Keys keys, const std::vector<std::string_view>* wanted,
                    Dictionary& d) {
        for (uint64_t i = 0; i < count; ++i) {
            std::string key;
            uint64_t keyRef = be(b_.data() + pos + i * refSize_, refSize_);
            uint64_t valueRef = be(b_.data() + pos + (count + i) * refSize_, refSize_);
            auto off = offsetOf(keyRef);
            if (!off || ((b_[*off] >> 4) != 0x5 && (b_[*off] >> 4) != 0x6)) return false;  // keys are strings
            bool build = keys == Keys::All;
            if (build) {
                auto k = object(keyRef, depth + 1);
                if (!k || !k->string()) return false;
                key = std::move(*k->string());
            } else {
                if (!object(keyRef, depth + 1, false)) return false;
                build = keys == Keys::Wanted && keyIsWanted(keyRef, *wanted, key);
            }
            auto v = object(valueRef, depth + 1, build);
            if (!v) return false;
            if (!build) continue;
            // Writers store keys sorted; appending at the end then costs one comparison.
            if (d.empty() || d.rbegin()->first < key)
                d.emplace_hint(d.end(), std::move(key), std::move(*v));
            else
                d.insert_or_assign(std::move(key), std::move(*v));
        }
        return true;
    }

    // UTF-16BE to UTF-8; an unpaired surrogate becomes U+FFFD.
    Value utf16(uint64_t pos, uint64_t len) const {
        std::string out;
        out.reserve(len * 3);
        for (uint64_t i = 0; i < len; ++i) {
            uint32_t c = static_cast<uint32_t>(be(b_.data() + pos + 2 * i, 2));
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < len) {
                uint32_t d = static_cast<uint32_t>(be(b_.data() + pos + 2 * (i + 1), 2));
                if (d >= 0xDC00 && d <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
                    ++i;
                }
            }
            if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
            appendUtf8(out, c);
        }
        return Value(std::move(out));
    }

    std::span<const uint8_t> b_;
    unsigned offsetSize_ = 0, refSize_ = 0;
    uint64_t numObjects_ = 0, tableOffset_ = 0, top_ = 0;
    std::vector<bool> onPath_;
    static constexpr uint64_t kMaxVisits = 1u << 20;
    uint64_t visits_ = 0;
    Value out_;  // a container's result, moved out at once
};

}  // namespace

std::optional<Value> parseBinaryPropertyList(std::span<const uint8_t> bytes) { return Reader(bytes).run(); }

std::optional<Dictionary> parseBinaryPropertyListKeys(std::span<const uint8_t> bytes, const std::vector<std::string_view>& keys) {
    return Reader(bytes).wantedKeys(keys);
}

}  // namespace platform
