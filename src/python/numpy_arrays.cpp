#include "python/numpy_arrays.hpp"

#include <cstring>

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

std::optional<py::array> as_float64_matrix(py::handle obj) {
    if (!py::isinstance<py::array>(obj)) return std::nullopt;
    auto arr = py::reinterpret_borrow<py::array>(obj);
    if (arr.ndim() != 2 || !arr.dtype().is(py::dtype::of<double>())) return std::nullopt;
    return arr;
}

Vec3 matrix_row_xyz(const py::array& m, std::size_t i) {
    const char* row = static_cast<const char*>(m.data()) + static_cast<py::ssize_t>(i) * m.strides(0);
    Vec3 v;
    for (int k = 0; k < 3; ++k) std::memcpy(&v[k], row + k * m.strides(1), sizeof(double));
    return v;
}

}  // namespace zelt::py_api
