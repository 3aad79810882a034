// Failure values of the core: a message and, optionally, the failure that
// caused it. Only the Python layer turns them into exceptions.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <variant>

namespace zelt {

struct Error {
    std::string message;
    std::shared_ptr<const Error> cause;

    Error() = default;
    explicit Error(std::string msg) : message(std::move(msg)) {}
    Error(std::string msg, Error because)
        : message(std::move(msg)), cause(std::make_shared<const Error>(std::move(because))) {}

    // The message followed by the messages of its causes, joined by ": ".
    std::string full_message() const {
        std::string out = message;
        for (auto c = cause; c; c = c->cause) out += ": " + c->message;
        return out;
    }
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error err) : v_(std::in_place_index<1>, std::move(err)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { return std::get<1>(v_); }

private:
    std::variant<T, Error> v_;
};

// Result of an operation that produces nothing but may fail.
struct Ok {};
using Status = Result<Ok>;

inline Error fail(std::string message) { return Error(std::move(message)); }

}  // namespace zelt
