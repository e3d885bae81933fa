#include "sim/device/json.h"

#include <cmath>
#include <cstdio>

namespace vantrel::sim {

std::string jsonQuoted(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

Json Json::from(const platform::Value& value) {
    using K = platform::Value::Kind;
    switch (value.kind()) {
    case K::Boolean: return Json(*value.boolean());
    case K::Integer: return Json(static_cast<long long>(*value.integer()));
    case K::Real: return Json(*value.real());
    case K::String: return Json(*value.string());
    case K::Data: return Json("<" + std::to_string(value.data()->bytes.size()) + " bytes>");
    case K::Date: return Json(value.date()->secondsSince2001);
    case K::Array: {
        Json l = list();
        for (const auto& v : *value.array()) l.add(from(v));
        return l;
    }
    case K::Dictionary: {
        Json o = object();
        for (const auto& [k, v] : *value.dictionary()) o.set(k, from(v));
        return o;
    }
    }
    return Json();
}

Json& Json::set(std::string key, Json value) {
    if (auto* o = std::get_if<Object>(&v_)) o->emplace_back(std::move(key), std::move(value));
    return *this;
}

Json& Json::add(Json value) {
    if (auto* l = std::get_if<List>(&v_)) l->push_back(std::move(value));
    return *this;
}

std::string Json::dump() const {
    std::string out;
    write(out);
    return out;
}

void Json::write(std::string& out) const {
    if (std::holds_alternative<std::nullptr_t>(v_)) {
        out += "null";
    } else if (auto b = std::get_if<bool>(&v_)) {
        out += *b ? "true" : "false";
    } else if (auto i = std::get_if<int64_t>(&v_)) {
        out += std::to_string(*i);
    } else if (auto d = std::get_if<double>(&v_)) {
        if (!std::isfinite(*d)) {
            out += "null";
        } else {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.17g", *d);
            out += buf;
        }
    } else if (auto s = std::get_if<std::string>(&v_)) {
        out += jsonQuoted(*s);
    } else if (auto l = std::get_if<List>(&v_)) {
        out += '[';
        for (size_t n = 0; n < l->size(); ++n) {
            if (n) out += ',';
            (*l)[n].write(out);
        }
        out += ']';
    } else if (auto o = std::get_if<Object>(&v_)) {
        out += '{';
        for (size_t n = 0; n < o->size(); ++n) {
            if (n) out += ',';
            out += jsonQuoted((*o)[n].first);
            out += ':';
            (*o)[n].second.write(out);
        }
        out += '}';
    }
}

}  // namespace vantrel::sim
