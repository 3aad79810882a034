// Exceptions that the bindings raise, mapped to Python exception types by the
// translator that the module registers.
#pragma once

#include <stdexcept>
#include <string>

#include "core/result.hpp"

namespace zelt::py_api {

// OSError: a file could not be read or written.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ValueError: a rejected format, box size, query or argument value.
struct ValueError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// RuntimeError: a core operation failed.
struct CoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A core failure's top message after a fixed prefix ("Failed to parse MOL2: ").
[[noreturn]] inline void raise_core(const std::string& prefix, const Error& e) { throw CoreError(prefix + e.message); }

template <class T>
T unwrap_or_raise(Result<T>&& r, const std::string& prefix = {}) {
    if (!r) raise_core(prefix, r.error());
    return std::move(r).value();
}

void register_exception_translators();

}  // namespace zelt::py_api
