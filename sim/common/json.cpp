#include "sim/common/json.h"

namespace vantrel::sim {

Json jsonFrom(const platform::Value& value) {
    using K = platform::Value::Kind;
    switch (value.kind()) {
    case K::Boolean: return *value.boolean();
    case K::Integer: return static_cast<long long>(*value.integer());
    case K::Real: return *value.real();
    case K::String: return *value.string();
    case K::Data: return "<" + std::to_string(value.data()->bytes.size()) + " bytes>";
    case K::Date: return value.date()->secondsSince2001;
    case K::Array: {
        Json l = Json::array();
        for (const auto& v : *value.array()) l.push_back(jsonFrom(v));
        return l;
    }
    case K::Dictionary: {
        Json o = Json::object();
        for (const auto& [k, v] : *value.dictionary()) o[k] = jsonFrom(v);
        return o;
    }
    }
    return nullptr;
}

std::string jsonDump(const Json& value) {
    try {
        return value.dump(-1, ' ', false, Json::error_handler_t::replace);
    } catch (const std::exception&) {
        // Only allocation can fail with the replacing handler; an empty object keeps callers' shape.
        return "{}";
    }
}

}  // namespace vantrel::sim
