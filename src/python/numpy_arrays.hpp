// NumPy float64 arrays made from the system's own buffers.
#pragma once

#include <pybind11/numpy.h>

#include <vector>

#include "core/records.hpp"

namespace zelt::py_api {

// New C-order float64 array of shape (atoms, 3) holding the positions.
pybind11::array_t<double> positions_array(const std::vector<Atom>& atoms);

}  // namespace zelt::py_api
