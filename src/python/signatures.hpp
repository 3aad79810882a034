// Makes the text signatures of methods visible to inspect on interpreters
// whose instance-method wrapper hides them.
#pragma once

#include <pybind11/pybind11.h>

namespace zelt::py_api {

// Call once, after every class of the module has its methods.
void expose_method_signatures(pybind11::module_& m);

}  // namespace zelt::py_api
