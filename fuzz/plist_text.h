// The plist fuzzer's text writer: a value as old-style text, every byte that needs it escaped,
// so what the text reader accepted can be read again. Only strings, data, arrays and
// dictionaries have a text form; false for the rest. Header-only, for the fuzz target alone.
#pragma once

#include <cstdio>
#include <string>

#include "platform/foundation/value.h"

namespace fuzz {

using platform::Value;

// A value as old-style text; false for kinds the text encoding has no form for.
inline bool asText(const Value& v, std::string& out) {
    if (auto s = v.string()) {
        out += '"';
        for (unsigned char c : *s) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20 || c == 0x7F) {
                char octal[8];
                std::snprintf(octal, sizeof octal, "\\%03o", c);
                out += octal;
            } else {
                out += static_cast<char>(c);
            }
        }
        out += '"';
        return true;
    }
    if (auto d = v.data()) {
        out += '<';
        for (uint8_t b : d->bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x", b);
            out += hex;
        }
        out += '>';
        return true;
    }
    if (auto a = v.array()) {
        out += '(';
        for (const auto& x : *a)
            if (!asText(x, out))
                return false;
            else
                out += ',';
        out += ')';
        return true;
    }
    if (auto d = v.dictionary()) {
        out += '{';
        for (const auto& [k, x] : *d) {
            asText(Value(k), out);
            out += '=';
            if (!asText(x, out)) return false;
            out += ';';
        }
        out += '}';
        return true;
    }
    return false;
}

}  // namespace fuzz
