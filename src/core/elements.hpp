// The element table (elements 1 to 103) and its case-insensitive lookups.
#pragma once

#include <cstdint>
#include <string_view>

namespace zelt {

struct ElementInfo {
    std::string_view symbol;  // upper case
    std::uint32_t number;
    double mass;  // u
};

inline constexpr std::size_t element_count = 103;

// Entry for atomic number `z` (1..103).
const ElementInfo& element_by_number(std::uint32_t z);

// Table entry whose symbol equals `symbol` upper-cased, or nullptr. Symbols
// are matched whole: "Cl" and "CL" find chlorine, "C1" or "Ca " find nothing.
const ElementInfo* find_element(std::string_view symbol);

// 0.0 for symbols the table does not know.
double atomic_mass(std::string_view symbol);

// 0 for symbols the table does not know.
std::uint32_t atomic_number(std::string_view symbol);

}  // namespace zelt
