// The preference file reader: any bytes give a dictionary or none, never a crash. Checks, for
// every input:
// - parsePropertyList and readDictionaryFile agree (the file is the same bytes on disk);
// - whatever parses survives a binary write and read back unchanged;
// - the key-only read answers as the full read does;
// - old-style text: what the text reader accepts holds only its four kinds, and written out as
//   text again (every byte escaped that needs it) reads back unchanged;
// - binary input against libplist, the independent reader: both accept with equal values, or
//   both refuse. libplist's tree is compared by having libplist write it out again and reading
//   that canonical form, never through its string getters (Debian's build asserts on U+0000).
//   Inputs libplist cannot survive are left out of the comparison: shared references that
//   expand past a bound (it copies each use, and a small file can stand for 2^40 nodes) and
//   cycles (it recurses without end).
#include <plist/plist.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "platform/foundation/file.h"
#include "platform/foundation/log.h"
#include "platform/foundation/plist.h"
#include "fuzz/plist_text.h"

using platform::Value;

namespace {

bool same(const Value& a, const Value& b) {
    if (a.kind() != b.kind()) return false;
    // libplist writes any 128-bit integer back with a zero high half, which we read as unsigned;
    // the 64 bits are what both keep.
    if (a.isInteger()) return *a.integer() == *b.integer();
    if (a.isReal()) {
        double x = *a.real(), y = *b.real();
        return (std::isnan(x) && std::isnan(y)) || x == y;
    }
    if (a.date()) {
        // Dates go through libplist as seconds and microseconds.
        double x = a.date()->secondsSince2001, y = b.date()->secondsSince2001;
        return (std::isnan(x) && std::isnan(y)) || x == y || std::fabs(x - y) <= 2e-6;
    }
    if (auto arr = a.array()) {
        const auto& other = *b.array();
        if (arr->size() != other.size()) return false;
        for (size_t i = 0; i < arr->size(); ++i)
            if (!same((*arr)[i], other[i])) return false;
        return true;
    }
    if (auto d = a.dictionary()) {
        const auto& other = *b.dictionary();
        if (d->size() != other.size()) return false;
        for (auto i = d->begin(), j = other.begin(); i != d->end(); ++i, ++j)
            if (i->first != j->first || !same(i->second, j->second)) return false;
        return true;
    }
    return a == b;
}

// What libplist's writer keeps of a value: strings and keys end at U+0000 (its string nodes
// are C strings), keys that become equal collapse to the last one, and dates are whole
// seconds within int32 plus microseconds.
Value writable(const Value& v) {
    if (auto s = v.string()) return Value(std::string(s->c_str()));
    if (auto d = v.date()) {
        double t = d->secondsSince2001;
        return Value(platform::Date{std::isfinite(t) ? std::clamp(t, double{INT32_MIN}, double{INT32_MAX}) : 0});
    }
    if (auto a = v.array()) {
        platform::Array out;
        for (const auto& x : *a) out.push_back(writable(x));
        return Value(std::move(out));
    }
    if (auto d = v.dictionary()) {
        platform::Dictionary out;
        for (const auto& [k, x] : *d) out.insert_or_assign(std::string(k.c_str()), writable(x));
        return Value(std::move(out));
    }
    return v;
}

// Does a string or key hold U+FFFD? We read an unpaired surrogate half as U+FFFD; libplist
// drops it or cuts the string there.
bool hasReplacement(const Value& v) {
    static const std::string fffd = "\xEF\xBF\xBD";
    if (auto s = v.string()) return s->find(fffd) != std::string::npos;
    if (auto a = v.array())
        for (const auto& x : *a)
            if (hasReplacement(x)) return true;
    if (auto d = v.dictionary())
        for (const auto& [k, x] : *d)
            if (k.find(fffd) != std::string::npos || hasReplacement(x)) return true;
    return false;
}

// Does a key hold U+0000? libplist cuts keys there, and which of the keys that then collide
// survives follows its order, not ours: such values are compared for acceptance only.
bool hasNulKey(const Value& v) {
    if (auto a = v.array())
        for (const auto& x : *a)
            if (hasNulKey(x)) return true;
    if (auto d = v.dictionary())
        for (const auto& [k, x] : *d)
            if (k.find('\0') != std::string::npos || hasNulKey(x)) return true;
    return false;
}

// Expanded node count of a binary plist as a naive reader sees it (every reference copied),
// saturating at `cap`; cap when there is a cycle. Conservative: anything unreadable is a leaf.
class Expansion {
public:
    Expansion(std::span<const uint8_t> b, uint64_t cap) : b_(b), cap_(cap) {}

    bool highAscii = false;        // a reachable one-byte string holds bytes above 0x7F
    bool strayObject = false;      // a reachable object starts in the header or the offset table
    bool strictTrailer = false;    // offset and reference sizes are ones the format allows
    bool refusedMarker = false;    // null, fill, a UID or a set: no preference value is one
    bool emptyUtf16 = false;       // an empty two-byte string, which libplist refuses
    bool oversizedLength = false;  // a length stored in more than 8 bytes, which libplist reads as 0

    uint64_t run() {
        if (b_.size() < 40) return 0;
        const uint8_t* t = b_.data() + b_.size() - 32;
        off_ = t[6];
        ref_ = t[7];
        n_ = be(t + 8, 8);
        uint64_t top = be(t + 16, 8);
        table_ = be(t + 24, 8);
        strictTrailer = off_ >= 1 && off_ <= 8 && ref_ >= 1 && ref_ <= 8;
        if (off_ < 1 || off_ > 8 || ref_ < 1 || ref_ > 8 || n_ == 0 || n_ > b_.size()) return 0;
        if (table_ > b_.size() || n_ * off_ > b_.size() - table_) return 0;
        if (top >= n_) return 0;
        memo_.assign(n_, 0);
        state_.assign(n_, 0);
        return count(top, 0);
    }

private:
    uint64_t be(const uint8_t* p, unsigned n) const {
        uint64_t v = 0;
        for (unsigned i = 0; i < n; ++i) v = (v << 8) | p[i];
        return v;
    }

    uint64_t count(uint64_t ref, int depth) {
        if (ref >= n_) return 1;
        if (state_[ref] == 2) return memo_[ref];
        if (state_[ref] == 1 || depth > 4096) return cap_;  // cycle, or deeper than any stack
        uint64_t off = be(b_.data() + table_ + ref * off_, off_);
        if (off < 8 || off >= table_) strayObject = true;
        if (off >= b_.size()) return 1;
        uint8_t m = b_[off];
        unsigned hi = m >> 4;
        uint64_t pos = off + 1, len = m & 0x0F;
        if (len == 0x0F) {
            if (pos >= b_.size()) return 1;
            unsigned n = 1u << (b_[pos] & 0x0F);
            bool sized = hi == 0x4 || hi == 0x5 || hi == 0x6 || hi == 0xA || hi == 0xC || hi == 0xD;
            if (sized && (b_[pos] & 0xF0) == 0x10 && n > 8) oversizedLength = true;
            if ((b_[pos] & 0xF0) != 0x10 || n > 8 || pos + 1 + n > b_.size()) return 1;
            len = be(b_.data() + pos + 1, n);
            pos += 1 + n;
        }
        if (hi == 0x8 || hi == 0xC || m == 0x00 || m == 0x0F) refusedMarker = true;
        if (hi == 0x6 && len == 0) emptyUtf16 = true;
        if (hi == 0x5) {
            for (uint64_t i = pos; i < b_.size() && i - pos < len; ++i)
                if (b_[i] >= 0x80) highAscii = true;
            return 1;
        }
        if (hi != 0xA && hi != 0xC && hi != 0xD) return 1;
        uint64_t refs = hi == 0xD ? len * 2 : len;
        if (len > b_.size() || pos + refs * ref_ > b_.size()) return 1;
        state_[ref] = 1;
        uint64_t total = 1;
        for (uint64_t i = 0; i < refs && total < cap_; ++i) total += count(be(b_.data() + pos + i * ref_, ref_), depth + 1);
        state_[ref] = 2;
        memo_[ref] = total < cap_ ? total : cap_;
        return memo_[ref];
    }

    std::span<const uint8_t> b_;
    uint64_t cap_;
    unsigned off_ = 0, ref_ = 0;
    uint64_t n_ = 0, table_ = 0;
    std::vector<uint64_t> memo_;
    std::vector<uint8_t> state_;
};

// Does libplist's tree hold something our reader refuses on purpose?
bool holdsRefusedKinds(plist_t node, int depth) {
    if (depth > platform::kMaxPlistDepth) return true;
    switch (plist_get_node_type(node)) {
    case PLIST_UID:
    case PLIST_NONE: return true;
    case PLIST_ARRAY:
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
            if (holdsRefusedKinds(plist_array_get_item(node, i), depth + 1)) return true;
        return false;
    case PLIST_DICT: {
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        bool refused = false;
        for (;;) {
            plist_t v = nullptr;
            plist_dict_next_item(node, it, nullptr, &v);  // never ask for the key
            if (!v) break;
            if (holdsRefusedKinds(v, depth + 1)) {
                refused = true;
                break;
            }
        }
        std::free(it);
        return refused;
    }
    default: return false;
    }
}

std::string scratchFile() {
    std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return dir + "/vantrel-fuzz-plist-" + std::to_string(getpid()) + ".plist";
}

void quote(const std::string& s, std::string& out) {
    out += '"';
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    out += '"';
}

// One line per value, bytes escaped: what differs must be visible.
void describe(const Value& v, std::string& out, int indent = 0) {
    std::string pad(static_cast<size_t>(indent) * 2, ' ');
    out += pad;
    switch (v.kind()) {
    case Value::Kind::Boolean: out += *v.boolean() ? "true" : "false"; break;
    case Value::Kind::Integer: out += std::to_string(*v.integer()); break;
    case Value::Kind::Real: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%a", *v.real());
        out += buf;
        break;
    }
    case Value::Kind::String: quote(*v.string(), out); break;
    case Value::Kind::Data: out += "data[" + std::to_string(v.data()->bytes.size()) + "]"; break;
    case Value::Kind::Date: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "date %a", v.date()->secondsSince2001);
        out += buf;
        break;
    }
    case Value::Kind::Array:
        out += "array\n";
        for (const auto& x : *v.array()) describe(x, out, indent + 1);
        return;
    case Value::Kind::Dictionary:
        out += "dict\n";
        for (const auto& [k, x] : *v.dictionary()) {
            out += pad + "  key ";
            quote(k, out);
            out += "\n";
            describe(x, out, indent + 2);
        }
        return;
    }
    out += "\n";
}

// The values in play, printed when a check fails.
std::optional<Value> shown[2];

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "plist fuzzer: %s\n", what);
    for (const auto& v : shown) {
        if (!v) continue;
        std::string out;
        describe(*v, out);
        std::fprintf(stderr, "--- value:\n%s\n", out.c_str());
    }
    std::abort();
}

void textChecks(std::span<const uint8_t> bytes) {
    auto text = platform::parseTextPropertyList(bytes);
    if (!text) return;
    shown[0] = text, shown[1].reset();
    std::string again;
    if (!fuzz::asText(*text, again)) fail("the text reader gave a kind the text encoding does not have");
    auto back = platform::parseTextPropertyList({reinterpret_cast<const uint8_t*>(again.data()), again.size()});
    shown[1] = back;
    // Escapes make the text longer than the cap allows; only what fits must read back.
    if (again.size() <= platform::kMaxPropertyListFileSize && (!back || !same(*text, *back)))
        fail("text written out again reads back differently");
}

void differential(std::span<const uint8_t> bytes, const std::optional<Value>& ours) {
    if (bytes.size() < 8 || std::memcmp(bytes.data(), "bplist00", 8) != 0) return;
    Expansion expansion(bytes, 20000);
    if (expansion.run() >= 20000) return;
    plist_t tree = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()), &tree);
    if (!tree) {
        // libplist refuses an empty two-byte string; it is a valid empty text.
        if (ours && !expansion.emptyUtf16) fail("ours accepted binary input libplist refuses");
        return;
    }
    char* bin = nullptr;
    uint32_t len = 0;
    bool refusedKinds = holdsRefusedKinds(tree, 0);
    plist_to_bin(tree, &bin, &len);
    plist_free(tree);
    std::optional<Value> theirs;
    if (bin) theirs = platform::parseBinaryPropertyList({reinterpret_cast<const uint8_t*>(bin), len});
    plist_to_bin_free(bin);
    shown[0] = ours, shown[1] = theirs;
    if (ours) {
        if (!theirs) fail("libplist's tree of input we accept does not read back");
        if (!same(*ours, *theirs) && !same(writable(*ours), writable(*theirs)) && !hasReplacement(*ours) && !hasNulKey(*ours))
            fail("ours and libplist read different values");
    } else if (theirs && !refusedKinds && !expansion.highAscii && !expansion.strayObject && expansion.strictTrailer &&
               !expansion.refusedMarker && !expansion.oversizedLength) {
        // libplist keeps a one-byte string's high bytes as they are, and reads objects that
        // overlap the header or the offset table, ignores offset and reference sizes of 0 or above 8
        // when nothing refers, reads sets as arrays and a length of more than 8 bytes as 0; we
        // refuse such files.
        fail("libplist accepted binary input ours refuses");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    platform::setLogToStderr(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    std::optional<Value> ours = platform::parsePropertyList(bytes);
    shown[0] = ours, shown[1].reset();

    static const std::string path = [] {
        std::atexit([] { unlink(scratchFile().c_str()); });
        return scratchFile();
    }();
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        bool written = std::fwrite(data, 1, size, f) == size;
        if (std::fclose(f) == 0 && written) {
            auto dict = platform::readDictionaryFile(path);
            bool isDict = ours && ours->isDictionary();
            if (dict.has_value() != isDict) fail("file read and memory parse disagree");
            if (dict && !same(Value(*dict), *ours)) fail("file read and memory parse read different values");
        }
    }

    if (ours) {
        auto bin = platform::serializeBinaryPropertyList(*ours);
        if (!bin) fail("a value we read cannot be written");
        auto back = platform::parsePropertyList(*bin);
        if (!back) fail("our own binary output does not read back");
        shown[0] = ours, shown[1] = back;
        if (!same(writable(*ours), *back)) fail("a write changed the value");
    }

    // The key-only read must answer exactly as the full read filtered to those keys.
    static const std::vector<std::string_view> keys = {"clock", "timeText", "enabletester", "datatype", "a", ""};
    auto some = platform::parsePropertyListKeys(bytes, keys);
    if (some.has_value() != (ours && ours->isDictionary())) fail("key-only and full read disagree on acceptance");
    if (some) {
        platform::Dictionary expected;
        for (auto k : keys)
            if (auto v = platform::lookup(*ours->dictionary(), std::string(k))) expected.emplace(k, *v);
        shown[1] = Value(*some);
        if (!same(Value(expected), Value(*some))) fail("key-only and full read give different values");
    }

    textChecks(bytes);
    differential(bytes, ours);
    return 0;
}
