// Straight polymer chains built from a repeat-unit template.
#pragma once

#include "build/recipe.hpp"
#include "core/records.hpp"
#include "core/result.hpp"

namespace zelt {

// `degree` translated copies of the repeat unit in a row, joined tail to
// head, with leaving atoms removed at the junctions and attachment markers
// (element "R") turned into hydrogen caps at the chain ends. Deterministic.
// Refuses an empty unit, a head or tail index not below the unit's atom
// count, and a unit bond naming an atom not below it.
Result<MoleculeTemplate> generate_chain(const MoleculeTemplate& unit, const PolymerParams& params);

}  // namespace zelt
