// The geometry methods of class System: distances, neighbour lists, angles,
// dihedrals, volume, mass, density, centre of mass, wrap, unwrap and stack.
#pragma once

#include <pybind11/pybind11.h>

#include "python/system.hpp"

namespace zelt::py_api {

void bind_system_geometry(pybind11::class_<PySystem>& cls);

}  // namespace zelt::py_api
