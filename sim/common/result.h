// Result<T>: what every fallible function of the device returns, a value or the reason it could
// not be had. The reason is a sentence for whoever asked, with an optional machine name (a D-Bus
// error name) when the caller must tell kinds of failure apart. A failure passes up unchanged:
// `if (!r) return r.error();`, or TRY(expr) inside a function returning a Result. Nothing throws.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace vantrel::sim {

struct Error {
    std::string message;
    std::string name;  // empty unless the failure has a name callers test for
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    explicit operator bool() const { return state_.index() == 0; }
    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const T* operator->() const { return &std::get<0>(state_); }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T valueOr(T fallback) const& { return *this ? value() : std::move(fallback); }
    T release() { return std::move(std::get<0>(state_)); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    explicit operator bool() const { return !error_; }
    void release() const {}
    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

// A failure with its sentence: `return failure("cannot read " + path);`.
inline Error failure(std::string message, std::string name = {}) { return Error{std::move(message), std::move(name)}; }

}  // namespace vantrel::sim

// Evaluates a Result; on failure returns its error from the enclosing function, else yields the
// value. A statement expression, as GCC and Clang both take.
#define TRY(expression)                               \
    ({                                                \
        auto try_result_ = (expression);              \
        if (!try_result_) return try_result_.error(); \
        try_result_.release();                        \
    })
