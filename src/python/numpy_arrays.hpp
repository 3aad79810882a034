// NumPy float64 arrays made from the system's own buffers.
#pragma once

#include <pybind11/numpy.h>

#include <optional>
#include <vector>

#include "core/records.hpp"

namespace zelt::py_api {

// New C-order float64 array of shape (atoms, 3) holding the positions.
pybind11::array_t<double> positions_array(const std::vector<Atom>& atoms);

// The object as a two-dimensional float64 array, without conversion or copy;
// nothing for any other object.
std::optional<pybind11::array> as_float64_matrix(pybind11::handle obj);

// Columns 0, 1, 2 of row `i` of a float64 matrix, read through its strides
// (any memory layout).
Vec3 matrix_row_xyz(const pybind11::array& matrix, std::size_t i);

}  // namespace zelt::py_api
