// The UFF parameter table, its first-match lookup by atom-type label, and the
// element symbols that typing builds labels from.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zelt::forcefield {

// One row of the table. Lengths in Å, angles in degrees, energies in kcal/mol.
struct UffParams {
    std::string_view label;
    double r1;      // valence bond radius
    double theta0;  // natural valence angle
    double x1;      // non-bonded distance
    double d1;      // non-bonded well depth
    double zeta;    // non-bonded scale (carried, used by no term)
    double z1;      // effective charge
    double chi;     // GMP electronegativity
    double v_sp3;   // sp3 torsional barrier
};

// The 129 rows in table order (generated from data/uff_params.tsv). The order
// matters: lookups take the first match.
std::span<const UffParams> uff_params_table();

// "H" .. "Lr" for atomic numbers 1 to 103; "X" for 0 and anything above 103.
std::string_view element_symbol(std::uint64_t atomic_number);

// The first row whose label equals `label`, or is non-empty, ends with "_"
// and is a prefix of `label` (so "F_1" finds "F_" and "H_b" finds "H_").
// nullptr when no row matches.
const UffParams* find_uff_params(std::string_view label);

// The first row of the element itself: the first label that is the symbol
// alone or the symbol followed by "_" or a digit (Cl -> "Cl", Si -> "Si3",
// P -> "P_3+3", S -> "S_3+2"). nullptr for atomic number 0, for numbers above
// 103 and for elements without a row of their own.
const UffParams* element_params(std::uint64_t atomic_number);

// The row an atom takes part in the force field with: the lookup of its
// label, or, when the label finds nothing, the first row of its element, so
// that no element with a row of its own silently drops out of every term.
const UffParams* atom_params(std::string_view label, std::uint64_t atomic_number);

}  // namespace zelt::forcefield
