// SMILES text -> three-dimensional molecule template: the template with
// hydrogens and rough coordinates, shaped by the VSEPR constraint optimizer
// and then a short force-field minimisation.
#pragma once

#include <string_view>

#include "core/records.hpp"
#include "core/result.hpp"

namespace zelt {

// parse_smiles_with_hydrogens, then VseprOptimizer (1500 iterations, step
// 0.15), then at most 500 force-field steps (threshold 0.1 kcal/mol/Å,
// automatic threads, 6 Å cutoff, no report). Fails exactly as
// parse_smiles_with_hydrogens does. Same text, same atoms and bonds; the
// coordinates differ from call to call (random starting coordinates).
Result<MoleculeTemplate> parse_smiles(std::string_view smiles);

}  // namespace zelt
