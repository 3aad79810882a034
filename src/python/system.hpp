// The record behind the Python class System, and conversions to and from the
// core System that every operation builds.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

#include "core/records.hpp"
#include "python/borrow.hpp"

namespace zelt::py_api {

struct PySystem {
    std::vector<Atom> atoms;
    std::vector<Bond> bonds;
    std::uint64_t n_atoms = 0;
    Mat3 cell{};
    BorrowFlag borrow;

    static PySystem from_core(System&& s);
    // A core system from `cell` with copies of the atoms (and bonds when asked).
    System to_core(bool with_bonds) const;
};

// Registers class System (its file and accessor methods) and returns it so
// that the other binding files can add their methods.
pybind11::class_<PySystem> bind_system(pybind11::module_& m);

}  // namespace zelt::py_api
