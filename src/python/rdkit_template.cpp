#include "python/rdkit_template.hpp"

#include <pybind11/numpy.h>

#include "python/errors.hpp"
#include "python/numpy_arrays.hpp"

namespace py = pybind11;

namespace zelt::py_api {
namespace {

std::uint64_t to_index(py::handle v) {
    const unsigned long long x = PyLong_AsUnsignedLongLong(v.ptr());
    if (x == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw py::error_already_set();
    return x;
}

double to_double(py::handle v) {
    const double x = PyFloat_AsDouble(v.ptr());
    if (x == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return x;
}

std::string type_name(py::handle o) { return py::str(py::type::handle_of(o).attr("__name__")).cast<std::string>(); }

}  // namespace

MoleculeTemplate extract_rdkit_template(py::handle mol, const std::string& name) {
    py::object conformer = mol.attr("GetConformer")();
    py::object positions = conformer.attr("GetPositions")();

    // Read in place through the array's own strides: no copy, any layout.
    const auto matrix = as_float64_matrix(positions);
    if (!matrix) {
        std::string got = "'" + type_name(positions) + "'";
        if (py::isinstance<py::array>(positions)) {
            auto a = py::reinterpret_borrow<py::array>(positions);
            got = std::to_string(a.ndim()) + " dimension(s) of dtype " + py::str(a.dtype()).cast<std::string>();
        }
        throw py::type_error("GetPositions() must return a two-dimensional float64 NumPy array, got " + got);
    }
    const py::array& arr = *matrix;
    const auto rows = static_cast<std::size_t>(arr.shape(0));
    if (rows > 0 && arr.shape(1) < 3)
        throw ValueError("GetPositions() must return at least 3 columns (x, y, z), got " +
                         std::to_string(arr.shape(1)));

    MoleculeTemplate t;
    t.atoms.resize(rows);
    for (std::size_t i = 0; i < rows; ++i) {
        Atom& a = t.atoms[i];
        a.residue_name = name;
        a.atom_type = "XX";
        a.index = i;
        a.position = matrix_row_xyz(arr, i);
    }

    std::size_t n = 0;
    for (py::handle atom : mol.attr("GetAtoms")()) {
        if (n == rows) break;  // symbols beyond the conformer's rows are not used
        py::object symbol = atom.attr("GetSymbol")();
        if (!py::isinstance<py::str>(symbol))
            throw py::type_error("GetSymbol() must return a str, got '" + type_name(symbol) + "'");
        t.atoms[n++].element = symbol.cast<std::string>();
    }
    if (n < rows)
        throw ValueError("The molecule has " + std::to_string(n) + " atoms but its conformer has " +
                         std::to_string(rows) + " positions");

    for (py::handle bond : mol.attr("GetBonds")()) {
        const std::uint64_t i = to_index(bond.attr("GetBeginAtomIdx")());
        const std::uint64_t j = to_index(bond.attr("GetEndAtomIdx")());
        const double order = to_double(bond.attr("GetBondTypeAsDouble")());
        // Later operations index the atom array with these numbers.
        if (i >= rows || j >= rows)
            throw ValueError("Bond (" + std::to_string(i) + ", " + std::to_string(j) +
                             ") refers to an atom beyond the molecule's " + std::to_string(rows) + " atoms");
        t.bonds.push_back(Bond{i, j, order});
    }
    return t;
}

}  // namespace zelt::py_api
