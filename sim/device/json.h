// The JSON the control tools print: a small ordered value (objects keep the order fields were
// added, so the documented field order is what scripts see) and its compact encoding. Strings
// are escaped for JSON whatever bytes they hold. Plain data.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/foundation/value.h"

namespace vantrel::sim {

class Json {
public:
    using Object = std::vector<std::pair<std::string, Json>>;
    using List = std::vector<Json>;

    Json() : v_(nullptr) {}
    Json(std::nullptr_t) : v_(nullptr) {}
    Json(bool b) : v_(b) {}
    Json(int i) : v_(int64_t{i}) {}
    Json(long i) : v_(int64_t{i}) {}
    Json(long long i) : v_(int64_t{i}) {}
    Json(unsigned long i) : v_(static_cast<int64_t>(i)) {}
    Json(double d) : v_(d) {}
    Json(const char* s) : v_(std::string(s)) {}
    Json(std::string s) : v_(std::move(s)) {}
    Json(List l) : v_(std::move(l)) {}
    Json(Object o) : v_(std::move(o)) {}

    static Json object() { return Json(Object{}); }
    static Json list() { return Json(List{}); }
    // A property-list value (data and dates as strings).
    static Json from(const platform::Value& value);

    Json& set(std::string key, Json value);  // on an object
    Json& add(Json value);                   // on a list

    std::string dump() const;

private:
    void write(std::string& out) const;
    std::variant<std::nullptr_t, bool, int64_t, double, std::string, List, Object> v_;
};

std::string jsonQuoted(const std::string& text);

}  // namespace vantrel::sim
