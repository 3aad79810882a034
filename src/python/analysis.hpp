// The module functions compute_rdf and compute_msd.
#pragma once

#include <pybind11/pybind11.h>

namespace zelt::py_api {

void bind_analysis(pybind11::module_& m);

}  // namespace zelt::py_api
