// Number parsing with the system's own messages, shared by every reader.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/result.hpp"

namespace zelt::parse {

// Decimal or exponent notation, optional sign, also inf, infinity and nan in
// any case. Messages: "cannot parse float from empty string", "invalid float literal".
Result<double> f64(std::string_view text);

// Optional "+", then decimal digits only. Messages: "cannot parse integer from
// empty string", "invalid digit found in string", "number too large to fit in target type".
Result<std::uint64_t> u64(std::string_view text);

}  // namespace zelt::parse
