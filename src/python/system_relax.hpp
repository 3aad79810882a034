// System.relax: the relaxation of a periodic system's atoms in place.
#pragma once

#include <pybind11/pybind11.h>

#include "python/system.hpp"

namespace zelt::py_api {

void bind_system_relax(pybind11::class_<PySystem>& cls);

}  // namespace zelt::py_api
