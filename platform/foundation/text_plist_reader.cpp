// A reader of the old-style text property-list encoding (OpenStep/NeXT): dictionaries
// `{ key = value; }`, arrays `( a, b )`, quoted and unquoted strings, data `<0fbd 77>` and
// comments. Every read is bounds-checked; the size and depth limits are those of the other
// readers. Strings must come out as valid UTF-8, or the input is refused.
#include <cstring>

#include "platform/foundation/file.h"
#include "platform/foundation/plist.h"

namespace platform {
namespace {

bool space(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

bool unquotedCharacter(uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '/' ||
           c == ':' || c == '.' || c == '-';
}

int hexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<uint8_t>(s[i]);
        size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
        if (n == 4 || i + n >= s.size()) return false;
        uint32_t cp = n == 0 ? c : c & (0x3F >> n);
        for (size_t k = 1; k <= n; ++k) {
            auto d = static_cast<uint8_t>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

class TextReader {
public:
    explicit TextReader(std::span<const uint8_t> b) : b_(b) {}

    std::optional<Value> run() {
        if (b_.size() >= 3 && std::memcmp(b_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
        auto v = value(0);
        if (!v || !skip() || pos_ != b_.size()) return std::nullopt;  // nothing may follow the root
        return v;
    }

private:
    bool at(uint8_t c) const { return pos_ < b_.size() && b_[pos_] == c; }
    bool next(uint8_t c) const { return pos_ + 1 < b_.size() && b_[pos_ + 1] == c; }

    // Skips white space and comments; false on a comment left open.
    bool skip() {
        while (pos_ < b_.size()) {
            uint8_t c = b_[pos_];
            if (space(c)) {
                ++pos_;
            } else if (c == '/' && next('/')) {
                while (pos_ < b_.size() && b_[pos_] != '\n' && b_[pos_] != '\r') ++pos_;
            } else if (c == '/' && next('*')) {
                pos_ += 2;
                while (pos_ + 1 < b_.size() && !(b_[pos_] == '*' && b_[pos_ + 1] == '/')) ++pos_;
                if (pos_ + 1 >= b_.size()) return false;
                pos_ += 2;
            } else {
                break;
            }
        }
        return true;
    }

    std::optional<Value> value(int depth) {
        if (depth > kMaxPlistDepth || !skip() || pos_ >= b_.size()) return std::nullopt;
        switch (b_[pos_]) {
        case '{': return dictionary(depth);
        case '(': return array(depth);
        case '<': return data();
        default: {
            auto s = string();
            if (!s) return std::nullopt;
            return Value(std::move(*s));
        }
        }
    }

    std::optional<Value> dictionary(int depth) {
        ++pos_;
        Dictionary d;
        for (;;) {
            if (!skip()) return std::nullopt;
            if (at('}')) break;
            if (depth + 1 > kMaxPlistDepth) return std::nullopt;
            auto key = string();
            if (!key || !skip() || !at('=')) return std::nullopt;
            ++pos_;
            auto v = value(depth + 1);
            if (!v || !skip() || !at(';')) return std::nullopt;
            ++pos_;
            d.insert_or_assign(std::move(*key), std::move(*v));  // a repeated key: the last one holds
        }
        ++pos_;
        return Value(std::move(d));
    }

    std::optional<Value> array(int depth) {
        ++pos_;
        Array a;
        for (;;) {
            if (!skip()) return std::nullopt;
            if (at(')')) break;
            auto v = value(depth + 1);
            if (!v || !skip()) return std::nullopt;
            a.push_back(std::move(*v));
            if (at(','))
                ++pos_;
            else if (!at(')'))
                return std::nullopt;
        }
        ++pos_;
        return Value(std::move(a));
    }

    std::optional<Value> data() {
        ++pos_;
        std::vector<uint8_t> bytes;
        int high = -1;
        for (; pos_ < b_.size() && b_[pos_] != '>'; ++pos_) {
            uint8_t c = b_[pos_];
            if (space(c)) continue;
            int h = hexDigit(c);
            if (h < 0) return std::nullopt;
            if (high < 0) {
                high = h;
            } else {
                bytes.push_back(static_cast<uint8_t>(high << 4 | h));
                high = -1;
            }
        }
        if (pos_ >= b_.size() || high >= 0) return std::nullopt;  // unclosed, or half a byte
        ++pos_;
        return Value(Data{std::move(bytes)});
    }

    std::optional<std::string> string() {
        std::string out;
        if (pos_ < b_.size() && (b_[pos_] == '"' || b_[pos_] == '\'')) {
            if (!quoted(out)) return std::nullopt;
        } else {
            size_t start = pos_;
            while (pos_ < b_.size() && unquotedCharacter(b_[pos_])) ++pos_;
            if (pos_ == start) return std::nullopt;
            out.assign(reinterpret_cast<const char*>(b_.data() + start), pos_ - start);
        }
        if (!validUtf8(out)) return std::nullopt;
        return out;
    }

    bool quoted(std::string& out) {
        const uint8_t quote = b_[pos_++];
        while (pos_ < b_.size() && b_[pos_] != quote) {
            uint8_t c = b_[pos_++];
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (pos_ >= b_.size()) return false;
            c = b_[pos_++];
            switch (c) {
            case 'a': out += '\a'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'v': out += '\v'; break;
            case 'U': appendUtf8(out, unicode()); break;
            default:
                if (c >= '0' && c <= '7') {
                    uint32_t v = c - '0';
                    for (int k = 0; k < 2 && pos_ < b_.size() && b_[pos_] >= '0' && b_[pos_] <= '7'; ++k)
                        v = v * 8 + (b_[pos_++] - '0');
                    // Above 0177 the byte is in the NeXTSTEP character set, which we do not carry.
                    if (v >= 0x80) return false;
                    out += static_cast<char>(v);
                } else {
                    out += static_cast<char>(c);  // \" \' \\ and any other character stand for themselves
                }
            }
        }
        if (pos_ >= b_.size()) return false;  // unclosed
        ++pos_;
        return true;
    }

    // Up to four hex digits after \U, a UTF-16 unit; a high surrogate takes a following \U low
    // one, and an unpaired half becomes U+FFFD.
    uint32_t unicode() {
        auto unit = [this] {
            uint32_t v = 0;
            for (int k = 0; k < 4 && pos_ < b_.size() && hexDigit(b_[pos_]) >= 0; ++k)
                v = v * 16 + static_cast<uint32_t>(hexDigit(b_[pos_++]));
            return v;
        };
        uint32_t c = unit();
        if (c >= 0xD800 && c <= 0xDBFF && at('\\') && next('U')) {
            size_t back = pos_;
            pos_ += 2;
            uint32_t low = unit();
            if (low >= 0xDC00 && low <= 0xDFFF) return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            pos_ = back;
        }
        return c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c;
    }

    std::span<const uint8_t> b_;
    size_t pos_ = 0;
};

}  // namespace

std::optional<Value> parseTextPropertyList(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > kMaxPropertyListFileSize) return std::nullopt;
    return TextReader(bytes).run();
}

bool looksLikeTextPropertyList(std::span<const uint8_t> bytes) {
    size_t i = bytes.size() >= 3 && std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (i < bytes.size() && space(bytes[i])) ++i;
    if (i >= bytes.size()) return false;
    if (bytes[i] != '<') return true;
    // Data at the root, `<0fbd>`, against XML's `<?xml`, `<!DOCTYPE` and `<plist>`.
    for (++i; i < bytes.size() && bytes[i] != '>'; ++i)
        if (hexDigit(bytes[i]) < 0 && !space(bytes[i])) return false;
    return true;
}

}  // namespace platform
