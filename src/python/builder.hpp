// The Python class Builder and the module function build_system.
#pragma once

#include <pybind11/pybind11.h>

namespace zelt::py_api {

void bind_builder(pybind11::module_& m);
void bind_build_system(pybind11::module_& m);

}  // namespace zelt::py_api
