// Molecule templates from RDKit molecules, read through their Python methods
// only (any object answering the same methods works).
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "core/records.hpp"

namespace zelt::py_api {

// Calls GetConformer().GetPositions(), GetAtoms() / GetSymbol() and GetBonds()
// / GetBeginAtomIdx(), GetEndAtomIdx(), GetBondTypeAsDouble(). Exceptions of
// those calls pass through unchanged; malformed answers raise TypeError or
// ValueError. Nothing is built on failure.
MoleculeTemplate extract_rdkit_template(pybind11::handle mol, const std::string& name);

}  // namespace zelt::py_api
