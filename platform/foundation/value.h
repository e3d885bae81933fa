// Property-list values: the one value type of preference files, notification userInfo and
// specifier files. A Value owns its children; copies are deep. Plain data, no thread affinity.
// Integers are signed 64-bit; an unsigned value above INT64_MAX (a binary property list's 128-bit
// form) reads as its two's complement through integer() and is marked, so it is written back as
// the same unsigned value.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {

class Value;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value>;

struct Data {
    std::vector<uint8_t> bytes;
    bool operator==(const Data&) const = default;
};

// An integer above INT64_MAX, kept apart so that it is written back unsigned; `bits` is its
// two's complement, which integer() gives.
struct LargeUnsigned {
    int64_t bits = 0;
    bool operator==(const LargeUnsigned&) const = default;
};

struct Date {
    double secondsSince2001 = 0;  // the reference date of property lists
    bool operator==(const Date&) const = default;
};

class Value {
public:
    enum class Kind { Boolean, Integer, Real, String, Data, Date, Array, Dictionary };

    Value() : v_(false) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(int64_t{i}) {}
    Value(long i) : v_(int64_t{i}) {}
    Value(long long i) : v_(int64_t{i}) {}
    Value(double d) : v_(d) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(Data d) : v_(std::move(d)) {}
    Value(Date d) : v_(d) {}
    Value(Array a) : v_(std::make_shared<Array>(std::move(a))) {}
    Value(Dictionary d) : v_(std::make_shared<Dictionary>(std::move(d))) {}
    // An integer kept as unsigned: values above INT64_MAX stay so through a write and a read.
    static Value unsignedInteger(uint64_t u);

    Value(const Value& o) { *this = o; }
    Value(Value&&) noexcept = default;
    Value& operator=(const Value& o);
    Value& operator=(Value&&) noexcept = default;

    Kind kind() const { return v_.index() == kLargeUnsignedIndex ? Kind::Integer : static_cast<Kind>(v_.index()); }
    bool isBoolean() const { return kind() == Kind::Boolean; }
    bool isInteger() const { return kind() == Kind::Integer; }
    bool isReal() const { return kind() == Kind::Real; }
    bool isNumber() const { return isInteger() || isReal(); }
    bool isString() const { return kind() == Kind::String; }
    bool isArray() const { return kind() == Kind::Array; }
    bool isDictionary() const { return kind() == Kind::Dictionary; }

    // Typed access; nullptr when the value is of another kind.
    const bool* boolean() const { return std::get_if<bool>(&v_); }
    const int64_t* integer() const {
        if (auto i = std::get_if<int64_t>(&v_)) return i;
        auto u = std::get_if<LargeUnsigned>(&v_);
        return u ? &u->bits : nullptr;
    }
    // An integer above INT64_MAX, which integer() gives as its two's complement.
    bool isLargeUnsigned() const { return v_.index() == kLargeUnsignedIndex; }
    const double* real() const { return std::get_if<double>(&v_); }
    const std::string* string() const { return std::get_if<std::string>(&v_); }
    std::string* string() { return std::get_if<std::string>(&v_); }
    const Data* data() const { return std::get_if<Data>(&v_); }
    const Date* date() const { return std::get_if<Date>(&v_); }
    const Array* array() const;
    const Dictionary* dictionary() const;
    Array* array();
    Dictionary* dictionary();

    bool operator==(const Value& o) const;

private:
    std::variant<bool, int64_t, double, std::string, Data, Date, std::shared_ptr<Array>, std::shared_ptr<Dictionary>,
                 LargeUnsigned>
        v_;
    static constexpr size_t kLargeUnsignedIndex = 8;
};

// A value in a dictionary, or nullptr.
const Value* lookup(const Dictionary& dict, const std::string& key);

// Appends one code point as UTF-8 (a lone surrogate keeps its three-byte form: callers that
// need valid UTF-8 replace it first).
void appendUtf8(std::string& out, uint32_t codePoint);

// The 32-bit signed read of a number, as CFNumberGetValue with kCFNumberSInt32Type: it fails for
// anything that is not a number, or whose value does not convert to int32 without loss.
std::optional<int32_t> readInt32(const Value* value);

}  // namespace platform
