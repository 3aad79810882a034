// SMILES text -> molecule template: heavy atoms from the reader's graph, bond
// orders from the bond kinds, hydrogens from a fixed valence table, and rough
// starting coordinates (a jittered line along x).
#pragma once

#include <cstdint>
#include <random>
#include <string_view>

#include "core/records.hpp"
#include "core/result.hpp"

namespace zelt {

// Valence used to complete an atom with hydrogens, by the element text
// upper-cased: C 4, N 3, P 3, O 2, S 2, F CL BR I H 1, anything else 0.
int hydrogen_valence(std::string_view element);

// Heavy atoms in text order (residue "MOL", element and type the organic
// symbol with its first letter upper-cased, "R" for "*", "X" for bracket
// atoms), each graph bond once with its lower index first, then the hydrogens
// grouped by their atom. Positions: heavy atom i at (1.5 i, u, u), u uniform in
// [-0.3, 0.3); each hydrogen 1.1 Å from its atom along +y, -y, +z, -z in turn,
// plus noise uniform in [-0.1, 0.1) per axis. Draws come from the calling
// thread's generator.
Result<MoleculeTemplate> parse_smiles_with_hydrogens(std::string_view smiles);

namespace smiles {

// Uniform in [low, high) from one 64-bit draw per attempt: the top 52 bits
// give a value in [1, 2); a result that rounds up to `high` is drawn again.
double uniform(std::mt19937_64& rng, double low, double high);

}  // namespace smiles
}  // namespace zelt
