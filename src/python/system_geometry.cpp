#include "python/system_geometry.hpp"

#include <pybind11/numpy.h>

#include <array>
#include <span>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "core/geometry.hpp"
#include "python/errors.hpp"

namespace py = pybind11;

namespace zelt::py_api {

namespace {

std::string type_name(py::handle h) { return py::str(py::type::handle_of(h).attr("__name__")).cast<std::string>(); }

bool is_text(py::handle h) { return py::isinstance<py::str>(h) || py::isinstance<py::bytes>(h); }

// A sequence of sequences of K non-negative ints, as index groups. Text is
// not taken for a sequence; every refusal is a TypeError naming the argument.
template <std::size_t K>
std::vector<std::array<std::uint64_t, K>> index_groups(py::handle obj, const char* arg) {
    if (is_text(obj) || !PySequence_Check(obj.ptr()))
        throw py::type_error(fmt::format("argument '{}': expected a sequence of sequences of {} ints, got '{}'", arg, K,
                                         type_name(obj)));
    const auto outer = py::reinterpret_borrow<py::sequence>(obj);
    const std::size_t n = outer.size();
    std::vector<std::array<std::uint64_t, K>> out(n);
    for (std::size_t t = 0; t < n; ++t) {
        const py::object item = outer[t];
        if (is_text(item) || !PySequence_Check(item.ptr()))
            throw py::type_error(fmt::format("argument '{}': item {} must be a sequence of {} ints, got '{}'", arg, t, K,
                                             type_name(item)));
        const auto inner = py::reinterpret_borrow<py::sequence>(item);
        const std::size_t len = inner.size();
        if (len != K)
            throw py::type_error(fmt::format(
                "argument '{}': item {} must be a sequence of length {}, got a sequence of length {}", arg, t, K, len));
        for (std::size_t c = 0; c < K; ++c) {
            const py::object value = inner[c];
            if (!PyIndex_Check(value.ptr()))
                throw py::type_error(
                    fmt::format("argument '{}': item {} must hold ints, got '{}'", arg, t, type_name(value)));
            const auto as_int = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
            if (!as_int) throw py::error_already_set();
            const unsigned long long v = PyLong_AsUnsignedLongLong(as_int.ptr());
            if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
                PyErr_Clear();
                throw py::type_error(fmt::format("argument '{}': item {} holds {}, which is not a non-negative int of 64 bits",
                                                 arg, t, py::repr(as_int).cast<std::string>()));
            }
            out[t][c] = v;
        }
    }
    return out;
}

py::list float_list(const std::vector<double>& values) {
    auto out = py::reinterpret_steal<py::list>(PyList_New(static_cast<py::ssize_t>(values.size())));
    if (!out) throw py::error_already_set();
    for (std::size_t k = 0; k < values.size(); ++k) {
        PyObject* f = PyFloat_FromDouble(values[k]);
        if (!f) throw py::error_already_set();
        PyList_SET_ITEM(out.ptr(), static_cast<py::ssize_t>(k), f);
    }
    return out;
}

// Index errors of the angle operations are rejected argument values.
std::vector<double> values_or_value_error(Result<std::vector<double>>&& r) {
    if (!r) throw ValueError(r.error().message);
    return std::move(r).value();
}

py::array_t<double> get_all_distances(PySystem& self, bool mic) {
    SharedBorrow b(self.borrow);
    const System s = self.to_core(false);
    const auto n = static_cast<py::ssize_t>(s.atoms.size());
    py::array_t<double> out({n, n});
    // The matrix goes straight into the array's own buffer.
    get_all_distances(s, mic, std::span<double>(out.mutable_data(), static_cast<std::size_t>(n * n)));
    return out;
}

py::list get_neighbor_list(PySystem& self, double cutoff) {
    SharedBorrow b(self.borrow);
    // Only positions and the cell take part: no copy of the atom records.
    const std::size_t n = self.atoms.size();
    std::vector<Vec3> positions(n);
    for (std::size_t k = 0; k < n; ++k) positions[k] = self.atoms[k].position;
    const auto pairs = zelt::get_neighbor_list(self.cell, invert_cell(self.cell), positions, cutoff);

    auto out = py::reinterpret_steal<py::list>(PyList_New(static_cast<py::ssize_t>(pairs.size())));
    if (!out) throw py::error_already_set();
    // One int object per atom index, made when first needed and shared by
    // every tuple that names the atom.
    std::vector<py::object> ints(n);
    const auto int_of = [&](std::uint64_t v) -> PyObject* {
        py::object& slot = ints[v];
        if (!slot) {
            slot = py::reinterpret_steal<py::object>(PyLong_FromUnsignedLongLong(v));
            if (!slot) throw py::error_already_set();
        }
        return slot.inc_ref().ptr();
    };
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        const Neighbor& p = pairs[k];
        auto d = py::reinterpret_steal<py::object>(PyFloat_FromDouble(p.distance));
        if (!d) throw py::error_already_set();
        PyObject* t = PyTuple_New(3);
        if (!t) throw py::error_already_set();
        PyTuple_SET_ITEM(t, 0, int_of(p.i));
        PyTuple_SET_ITEM(t, 1, int_of(p.j));
        PyTuple_SET_ITEM(t, 2, d.release().ptr());
#if !defined(PYPY_VERSION)
        // A tuple of ints and a float can hold no reference cycle: keeping it
        // out of the cycle collector's lists spares the collector passes over
        // every tuple that a long list would otherwise trigger.
        PyObject_GC_UnTrack(t);
#endif
        PyList_SET_ITEM(out.ptr(), static_cast<py::ssize_t>(k), t);
    }
    return out;
}

py::list get_angles(PySystem& self, py::handle indices, bool mic) {
    SharedBorrow b(self.borrow);
    const auto triples = index_groups<3>(indices, "indices");
    return float_list(values_or_value_error(get_angles(self.to_core(false), triples, mic)));
}

py::list get_dihedrals(PySystem& self, py::handle indices, bool mic) {
    SharedBorrow b(self.borrow);
    const auto quads = index_groups<4>(indices, "indices");
    return float_list(values_or_value_error(get_dihedrals(self.to_core(false), quads, mic)));
}

double get_volume(PySystem& self) {
    SharedBorrow b(self.borrow);
    return get_volume(System::from_cell(self.cell));
}

double get_total_mass(PySystem& self) {
    SharedBorrow b(self.borrow);
    return get_total_mass(self.to_core(false));
}

double get_density(PySystem& self) {
    SharedBorrow b(self.borrow);
    return get_density(self.to_core(false));
}

py::list get_center_of_mass(PySystem& self) {
    SharedBorrow b(self.borrow);
    const Vec3 c = get_center_of_mass(self.to_core(false));
    return float_list({c[0], c[1], c[2]});
}

void wrap(PySystem& self) {
    ExclusiveBorrow b(self.borrow);
    System s = self.to_core(false);
    wrap(s);
    self.atoms = std::move(s.atoms);
}

void unwrap(PySystem& self) {
    ExclusiveBorrow b(self.borrow);
    System s = self.to_core(true);
    (void)unwrap_or_raise(unwrap(s));
    self.atoms = std::move(s.atoms);
}

void stack(PySystem& self, PySystem& other, std::uint64_t axis) {
    // The object first, exclusively; then `other`, shared: stacking an
    // object on itself is a borrow conflict.
    ExclusiveBorrow mine(self.borrow);
    SharedBorrow theirs(other.borrow);
    System s = self.to_core(true);
    const System o = other.to_core(true);
    (void)unwrap_or_raise(stack(s, o, axis));
    self.atoms = std::move(s.atoms);
    self.bonds = std::move(s.bonds);
    self.cell = s.cell;
    self.n_atoms = self.atoms.size();
}

}  // namespace

void bind_system_geometry(py::class_<PySystem>& cls) {
    cls.def("get_all_distances", &get_all_distances, py::arg("mic").noconvert() = false,
            "get_all_distances(self, mic=False)\n--\n\n");
    cls.def("get_center_of_mass", &get_center_of_mass, "get_center_of_mass(self)\n--\n\n");
    cls.def("get_angles", &get_angles, py::arg("indices"), py::arg("mic").noconvert() = false,
            "get_angles(self, indices, mic=False)\n--\n\n");
    cls.def("get_dihedrals", &get_dihedrals, py::arg("indices"), py::arg("mic").noconvert() = false,
            "get_dihedrals(self, indices, mic=False)\n--\n\n");
    cls.def("wrap", &wrap, "wrap(self)\n--\n\n");
    cls.def("unwrap", &unwrap, "unwrap(self)\n--\n\n");
    cls.def("get_neighbor_list", &get_neighbor_list, py::arg("cutoff"), "get_neighbor_list(self, cutoff)\n--\n\n");
    cls.def("get_volume", &get_volume, "get_volume(self)\n--\n\n");
    cls.def("get_total_mass", &get_total_mass, "get_total_mass(self)\n--\n\n");
    cls.def("get_density", &get_density, "get_density(self)\n--\n\n");
    cls.def("stack", &stack, py::arg("other"), py::arg("axis"), "stack(self, other, axis)\n--\n\n");
}

}  // namespace zelt::py_api
