// SMILES text -> three-dimensional molecule template: the template with
// hydrogens and rough coordinates, shaped by the VSEPR constraint optimizer
// and then a short force-field minimisation.
#pragma once

#include <string_view>

#include "core/records.hpp"
#include "core/result.hpp"
#include "forcefield/system.hpp"

namespace zelt {

// parse_smiles_with_hydrogens, then VseprOptimizer (1500 iterations, step
// 0.15), then at most 500 force-field steps (threshold 0.1 kcal/mol/Å,
// automatic threads, 6 Å cutoff, no report). Fails exactly as
// parse_smiles_with_hydrogens does. Same text, same atoms and bonds; the
// coordinates differ from call to call (random starting coordinates).
Result<MoleculeTemplate> parse_smiles(std::string_view smiles);

// One repair of a rejected embedding: a fold that the bond lengths do not
// show often has the single hydrogen of a tetrahedral centre caught between
// the centre's other substituents (an angle more than 36° off its natural
// value). Every such hydrogen of `mol` is set 1.09 Å from its centre,
// opposite the mean direction of the centre's other three neighbours; the
// angles are read from `engine`, the force-field system of `mol` after its
// minimisation. True when a hydrogen was moved. parse_smiles then minimises
// once more and keeps the better of the two results.
bool free_caught_hydrogens(MoleculeTemplate& mol, const forcefield::System& engine);

}  // namespace zelt
