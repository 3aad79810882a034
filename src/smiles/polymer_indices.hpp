// Attachment points of a template that serves as a polymer repeat unit.
#pragma once

#include <cstdint>
#include <optional>

#include "core/records.hpp"
#include "core/result.hpp"

namespace zelt {

struct PolymerIndices {
    std::uint64_t head = 0;                    // bonded to the previous unit
    std::uint64_t tail = 0;                    // bonded to the next unit
    std::optional<std::uint64_t> h_leaving;    // removed at the head when units are joined
    std::optional<std::uint64_t> t_leaving;    // removed at the tail when units are joined

    bool operator==(const PolymerIndices&) const = default;
};

// With two or more "R" marker atoms (and at least one bond), the first two
// markers leave and the atoms they are bonded to (not hydrogens) are head and
// tail; `head` and `tail` are then not consulted. Otherwise `head` and `tail`
// are ordinals among the heavy atoms (neither "R" nor "H"; default: the first
// and the last), and the leaving atoms are their first hydrogens.
// Failures: "No heavy atoms found in template",
// "Head/Tail index out of bounds. Found {} heavy atoms.".
Result<PolymerIndices> resolve_polymer_indices(const MoleculeTemplate& mol, std::optional<std::uint64_t> head,
                                               std::optional<std::uint64_t> tail);

}  // namespace zelt
