// Exchange of systems with ASE (Atoms) and RDKit (Mol): the System methods
// to_ase and to_rdkit and the module functions from_ase and from_rdkit. Both
// libraries are imported only when one of these is called.
#pragma once

#include <pybind11/pybind11.h>

#include "python/system.hpp"

namespace zelt::py_api {

// Methods to_ase and to_rdkit.
void bind_system_exchange(pybind11::class_<PySystem>& cls);

// Module functions from_ase and from_rdkit.
void bind_exchange_functions(pybind11::module_& m);

}  // namespace zelt::py_api
