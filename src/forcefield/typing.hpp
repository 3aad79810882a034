// UFF atom typing: a label for every atom from its element and its bonds.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/result.hpp"
#include "forcefield/atom.hpp"

namespace zelt::forcefield {

// Label of an atom with atomic number `z`, `bond_count` bonds (a bond listed
// twice counts twice) and whether any bond is aromatic (order 1.5) or double
// (order 2.0).
std::string uff_label(std::uint64_t z, std::size_t bond_count, bool aromatic, bool has_double);

// Sets `uff_type` of every atom from the atoms and bonds. Fails, changing
// nothing, when a bond refers to an atom index not below the atom count.
Status auto_assign_uff_types(std::span<Atom> atoms, std::span<const Bond> bonds);

// The bond-index invariant of every engine system: each index below the atom count.
Status check_bond_indices(std::size_t atom_count, std::span<const Bond> bonds);

}  // namespace zelt::forcefield
