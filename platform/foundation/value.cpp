#include "platform/foundation/value.h"

#include <cmath>
#include <limits>

namespace platform {

Value& Value::operator=(const Value& o) {
    if (this == &o) return *this;
    // Deep copy: a copied dictionary may be edited without touching the original.
    if (auto a = std::get_if<std::shared_ptr<Array>>(&o.v_))
        v_ = std::make_shared<Array>(**a);
    else if (auto d = std::get_if<std::shared_ptr<Dictionary>>(&o.v_))
        v_ = std::make_shared<Dictionary>(**d);
    else
        v_ = o.v_;
    return *this;
}

Value Value::unsignedInteger(uint64_t u) {
    Value v(static_cast<long long>(u));
    if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) v.v_ = LargeUnsigned{static_cast<int64_t>(u)};
    return v;
}

const Array* Value::array() const {
    auto p = std::get_if<std::shared_ptr<Array>>(&v_);
    return p ? p->get() : nullptr;
}
const Dictionary* Value::dictionary() const {
    auto p = std::get_if<std::shared_ptr<Dictionary>>(&v_);
    return p ? p->get() : nullptr;
}
Array* Value::array() {
    auto p = std::get_if<std::shared_ptr<Array>>(&v_);
    return p ? p->get() : nullptr;
}
Dictionary* Value::dictionary() {
    auto p = std::get_if<std::shared_ptr<Dictionary>>(&v_);
    return p ? p->get() : nullptr;
}

bool Value::operator==(const Value& o) const {
    if (kind() != o.kind()) return false;
    if (auto a = array()) return *a == *o.array();
    if (auto d = dictionary()) return *d == *o.dictionary();
    return v_ == o.v_;
}

const Value* lookup(const Dictionary& dict, const std::string& key) {
    auto it = dict.find(key);
    return it == dict.end() ? nullptr : &it->second;
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::optional<int32_t> readInt32(const Value* value) {
    if (!value) return std::nullopt;
    if (auto i = value->integer()) {
        if (*i < std::numeric_limits<int32_t>::min() || *i > std::numeric_limits<int32_t>::max()) return std::nullopt;
        return static_cast<int32_t>(*i);
    }
    if (auto d = value->real()) {
        if (!std::isfinite(*d) || std::trunc(*d) != *d) return std::nullopt;
        if (*d < std::numeric_limits<int32_t>::min() || *d > std::numeric_limits<int32_t>::max()) return std::nullopt;
        return static_cast<int32_t>(*d);
    }
    return std::nullopt;
}

}  // namespace platform
