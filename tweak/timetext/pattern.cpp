#include "tweak/timetext/pattern.h"

#include "platform/foundation/value.h"

#include "platform/foundation/dateformatter.h"

namespace vantrel::tweak {

namespace {

platform::DateFormatter* timeItemFormatter(id aggregator) {
    static Class cachedClass = nullptr;
    static Ivar cachedIvar = nullptr;
    if (!aggregator) return nullptr;
    Class cls = object_getClass(aggregator);
    if (cls != cachedClass) {
        cachedIvar = class_getInstanceVariable(cls, "_timeItemDateFormatter");
        cachedClass = cls;
    }
    if (!cachedIvar) return nullptr;
    return *ivarPointer<platform::DateFormatter*>(aggregator, cachedIvar);
}

}  // namespace

void setTimeItemPattern(id aggregator, const std::u16string& pattern) {
    if (auto* formatter = timeItemFormatter(aggregator)) formatter->setDateFormat(pattern);
}

void setTimeItemPattern(id aggregator, const std::string& utf8Pattern) {
    setTimeItemPattern(aggregator, platform::utf8ToUtf16(utf8Pattern));
}

std::string doubledQuotes(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out;
}

std::string quotedLiteral(const std::string& fact) {
    if (fact.empty()) return std::string();
    return "'" + doubledQuotes(fact) + "'";
}

std::string utf16ToWtf8(const std::u16string& units) {
    std::string out;
    out.reserve(units.size() * 3);
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        platform::appendUtf8(out, c);
    }
    return out;
}

std::u16string wtf8ToUtf16(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    size_t i = 0;
    const size_t n = bytes.size();
    auto cont = [&](size_t k) { return k < n && (static_cast<unsigned char>(bytes[k]) & 0xC0) == 0x80; };
    while (i < n) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        uint32_t c = 0xFFFD;
        size_t len = 1;
        if (b < 0x80) {
            c = b;
        } else if (b >= 0xC2 && b < 0xE0 && cont(i + 1)) {
            c = ((b & 0x1Fu) << 6) | (bytes[i + 1] & 0x3F);
            len = 2;
        } else if (b >= 0xE0 && b < 0xF0 && cont(i + 1) && cont(i + 2)) {
            c = ((b & 0x0Fu) << 12) | ((bytes[i + 1] & 0x3Fu) << 6) | (bytes[i + 2] & 0x3F);
            len = 3;
            if (c < 0x800) c = 0xFFFD;
        } else if (b >= 0xF0 && b < 0xF5 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            c = ((b & 0x07u) << 18) | ((bytes[i + 1] & 0x3Fu) << 12) | ((bytes[i + 2] & 0x3Fu) << 6) | (bytes[i + 3] & 0x3F);
            len = 4;
            if (c < 0x10000 || c > 0x10FFFF) c = 0xFFFD;
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += len;
    }
    return out;
}

}  // namespace vantrel::tweak
