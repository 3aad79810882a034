#include "python/system.hpp"

#include <pybind11/stl.h>

#include "io/mol2.hpp"
#include "python/errors.hpp"
#include "python/files.hpp"
#include "python/numpy_arrays.hpp"

namespace py = pybind11;

namespace zelt::py_api {

PySystem PySystem::from_core(System&& s) {
    PySystem out;
    out.atoms = std::move(s.atoms);
    out.bonds = std::move(s.bonds);
    out.n_atoms = out.atoms.size();
    out.cell = s.cell;
    return out;
}

System PySystem::to_core(bool with_bonds) const {
    System s = System::from_cell(cell);
    s.atoms = atoms;
    if (with_bonds) s.bonds = bonds;
    return s;
}

namespace {

PySystem from_file(const std::string& path, const std::optional<std::string>& format) {
    const std::string text = read_text_file(path);
    const std::string fmt = file_format(path, format);
    if (fmt != "mol2") throw ValueError("Only .mol2 is supported for System.from_file currently");
    return PySystem::from_core(unwrap_or_raise(parse_mol2_as_system(text), "Failed to parse MOL2 as system: "));
}

void to_file(PySystem& self, const std::string& path) {
    SharedBorrow b(self.borrow);
    if (file_format(path) != "mol2") throw ValueError("Only .mol2 is supported for to_file currently");
    write_text_file(path, write_mol2(self.to_core(true)));
}

py::array_t<double> get_positions(PySystem& self) {
    SharedBorrow b(self.borrow);
    return positions_array(self.atoms);
}

py::list get_bonds(PySystem& self) {
    SharedBorrow b(self.borrow);
    py::list out;
    for (const auto& bond : self.bonds) out.append(py::make_tuple(bond.i, bond.j, bond.order));
    return out;
}

}  // namespace

py::class_<PySystem> bind_system(py::module_& m) {
    py::class_<PySystem> cls(m, "System");
    cls.def_static("from_file", &from_file, py::arg("path"), py::arg("format") = py::none(),
                   "from_file(path, format=None)\n--\n\n");
    cls.def("get_positions", &get_positions, "get_positions(self)\n--\n\n");
    cls.def("get_bonds", &get_bonds, "get_bonds(self)\n--\n\n");
    cls.def("to_file", &to_file, py::arg("path"), "to_file(self, path)\n--\n\n");
    cls.def_property_readonly("n_atoms", [](PySystem& self) {
        SharedBorrow b(self.borrow);
        return self.n_atoms;
    });
    return cls;
}

}  // namespace zelt::py_api
