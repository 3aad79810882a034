// The record behind the Python class Molecule: one template and its name.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "core/records.hpp"
#include "python/borrow.hpp"

namespace zelt::py_api {

struct PyMolecule {
    MoleculeTemplate tmpl;
    std::string name;
    BorrowFlag borrow;
};

void bind_molecule(pybind11::module_& m);

}  // namespace zelt::py_api
