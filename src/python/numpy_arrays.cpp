#include "python/numpy_arrays.hpp"

namespace py = pybind11;

namespace zelt::py_api {

py::array_t<double> positions_array(const std::vector<Atom>& atoms) {
    py::array_t<double> out({static_cast<py::ssize_t>(atoms.size()), py::ssize_t{3}});
    double* p = out.mutable_data();
    for (const auto& a : atoms) {
        *p++ = a.position[0];
        *p++ = a.position[1];
        *p++ = a.position[2];
    }
    return out;
}

}  // namespace zelt::py_api
