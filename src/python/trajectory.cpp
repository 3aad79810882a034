#include "python/trajectory.hpp"

#include <bit>
#include <cstring>

#include <fmt/format.h>

#include "python/errors.hpp"
#include "python/system.hpp"

namespace py = pybind11;

namespace zelt::py_api {
namespace {

std::string type_name(py::handle h) { return py::str(py::type::handle_of(h).attr("__name__")).cast<std::string>(); }

bool is_text(py::handle h) { return py::isinstance<py::str>(h) || py::isinstance<py::bytes>(h); }

// A float64 buffer of the given dimension, held for the duration of a read.
class FloatBuffer {
public:
    FloatBuffer(py::handle obj, int ndim) {
        if (!PyObject_CheckBuffer(obj.ptr())) return;
        if (PyObject_GetBuffer(obj.ptr(), &view_, PyBUF_STRIDES | PyBUF_FORMAT) != 0) {
            PyErr_Clear();
            return;
        }
        held_ = true;
        const std::string_view f = view_.format ? view_.format : "B";
        const bool native_double = f == "d" || f == "@d" || f == "=d" ||
                                   (f == "<d" && std::endian::native == std::endian::little) ||
                                   (f == ">d" && std::endian::native == std::endian::big);
        usable_ = native_double && view_.itemsize == 8 && view_.ndim == ndim;
    }
    ~FloatBuffer() {
        if (held_) PyBuffer_Release(&view_);
    }
    FloatBuffer(const FloatBuffer&) = delete;
    FloatBuffer& operator=(const FloatBuffer&) = delete;

    bool usable() const { return usable_; }
    py::ssize_t shape(int d) const { return view_.shape[d]; }
    double at(py::ssize_t i) const { return read(static_cast<const char*>(view_.buf) + i * view_.strides[0]); }
    double at(py::ssize_t i, py::ssize_t j) const {
        return read(static_cast<const char*>(view_.buf) + i * view_.strides[0] + j * view_.strides[1]);
    }

private:
    static double read(const char* p) {
        double v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    Py_buffer view_{};
    bool held_ = false;
    bool usable_ = false;
};

double as_double(PyObject* o) {
    if (PyFloat_CheckExact(o)) return PyFloat_AS_DOUBLE(o);
    const double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return v;
}

// A sequence as a fast list or tuple; text is refused as a sequence.
py::object fast_sequence(py::handle obj, const std::string& what) {
    if (is_text(obj) || !PySequence_Check(obj.ptr()))
        throw py::type_error(fmt::format("{} must be a sequence, got '{}'", what, type_name(obj)));
    PyObject* seq = PySequence_Fast(obj.ptr(), "expected a sequence");
    if (!seq) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(seq);
}

// Appends x, y, z of the first `limit` atoms (all when limit is npos) of a
// get_positions() result; returns the number of atoms read.
std::size_t read_positions(py::handle result, std::size_t frame, std::size_t limit, std::vector<double>& out) {
    const auto too_few = [&](std::size_t atom, std::size_t count) {
        return ValueError(fmt::format("Atom {} of frame {} has {} coordinates; x, y and z are needed", atom, frame,
                                      count));
    };
    {
        FloatBuffer buf(result, 2);
        if (buf.usable()) {
            const auto rows = static_cast<std::size_t>(buf.shape(0));
            const std::size_t n = std::min(rows, limit);
            if (n > 0 && buf.shape(1) < 3) throw too_few(0, static_cast<std::size_t>(buf.shape(1)));
            const std::size_t start = out.size();
            out.resize(start + 3 * n);
            for (std::size_t i = 0; i < n; ++i)
                for (int c = 0; c < 3; ++c)
                    out[start + 3 * i + c] = buf.at(static_cast<py::ssize_t>(i), c);
            return n;
        }
    }
    const std::string what = fmt::format("get_positions() of frame {}", frame);
    const py::object rows = fast_sequence(result, what);
    const auto n_rows = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(rows.ptr()));
    const std::size_t n = std::min(n_rows, limit);
    out.reserve(out.size() + 3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* row_obj = PySequence_Fast_GET_ITEM(rows.ptr(), static_cast<py::ssize_t>(i));
        const py::object row = fast_sequence(row_obj, fmt::format("atom {} of {}", i, what));
        const auto len = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(row.ptr()));
        if (len < 3) throw too_few(i, len);
        for (int c = 0; c < 3; ++c) out.push_back(as_double(PySequence_Fast_GET_ITEM(row.ptr(), c)));
    }
    return n;
}

std::vector<double> read_floats(py::handle result, const std::string& what) {
    std::vector<double> out;
    {
        FloatBuffer buf(result, 1);
        if (buf.usable()) {
            out.resize(static_cast<std::size_t>(buf.shape(0)));
            for (std::size_t i = 0; i < out.size(); ++i) out[i] = buf.at(static_cast<py::ssize_t>(i));
            return out;
        }
    }
    const py::object seq = fast_sequence(result, what);
    const auto n = PySequence_Fast_GET_SIZE(seq.ptr());
    out.reserve(static_cast<std::size_t>(n));
    for (py::ssize_t i = 0; i < n; ++i) out.push_back(as_double(PySequence_Fast_GET_ITEM(seq.ptr(), i)));
    return out;
}

std::vector<AtomInfo> read_symbols(py::handle result) {
    const py::object seq = fast_sequence(result, "get_chemical_symbols()");
    const auto n = PySequence_Fast_GET_SIZE(seq.ptr());
    std::vector<AtomInfo> out;
    out.reserve(static_cast<std::size_t>(n));
    for (py::ssize_t i = 0; i < n; ++i) {
        const py::handle item = PySequence_Fast_GET_ITEM(seq.ptr(), i);
        if (!py::isinstance<py::str>(item))
            throw py::type_error(
                fmt::format("get_chemical_symbols() must hold str, got '{}' at position {}", type_name(item), i));
        out.push_back(AtomInfo{item.cast<std::string>(), "UNK", static_cast<std::uint64_t>(i), 0});
    }
    return out;
}

// One ASE-like frame: positions, then the flattened cell.
void read_frame(py::handle frame, std::size_t index, TrajectoryData& data) {
    const py::object positions = frame.attr("get_positions")();
    if (index == 0) {
        data.n_atoms = read_positions(positions, 0, static_cast<std::size_t>(-1), data.positions);
    } else {
        const std::size_t got = read_positions(positions, index, data.n_atoms, data.positions);
        if (got < data.n_atoms)
            throw ValueError(fmt::format("Frame {} has {} atoms, fewer than the {} atoms of the first frame", index,
                                         got, data.n_atoms));
    }
    const py::object flat = frame.attr("get_cell")().attr("flatten")();
    data.cells.push_back(read_floats(flat, fmt::format("get_cell().flatten() of frame {}", index)));
    ++data.n_frames;
}

}  // namespace

Mat3 cell_from_values(const std::vector<double>& values) {
    Mat3 h{};
    if (values.size() == 9) {
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) h[r][c] = values[3 * r + c];
    } else if (values.size() == 3) {
        for (int c = 0; c < 3; ++c) h[c][c] = values[c];
    }
    return h;
}

std::vector<double> TrajectoryData::cell_matrices() const {
    std::vector<double> out;
    out.reserve(9 * cells.size());
    for (const auto& values : cells) {
        const Mat3 h = cell_from_values(values);
        for (const auto& row : h) out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

TrajectoryData extract_traj_data(py::handle input) {
    TrajectoryData data;
    if (py::isinstance<PySystem>(input)) {
        PySystem& s = input.cast<PySystem&>();
        SharedBorrow borrow(s.borrow);
        data.n_frames = 1;
        data.n_atoms = s.atoms.size();
        data.positions.reserve(3 * s.atoms.size());
        data.atoms.reserve(s.atoms.size());
        for (const Atom& a : s.atoms) {
            data.positions.insert(data.positions.end(), a.position.begin(), a.position.end());
            data.atoms.push_back(AtomInfo{a.element, a.residue_name, a.index, 0});
        }
        std::vector<double> cell;
        for (const auto& row : s.cell) cell.insert(cell.end(), row.begin(), row.end());
        data.cells.push_back(std::move(cell));
        return data;
    }

    const py::object atoms_type = py::module_::import("ase").attr("Atoms");
    if (py::isinstance(input, atoms_type)) {
        read_frame(input, 0, data);
        data.atoms = read_symbols(input.attr("get_chemical_symbols")());
        return data;
    }

    if (PyList_Check(input.ptr())) {
        // The list is read by position each time: a method of an item could
        // change it while it is read.
        for (py::ssize_t i = 0; i < PyList_GET_SIZE(input.ptr()); ++i) {
            const auto item = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(input.ptr(), i));
            read_frame(item, static_cast<std::size_t>(i), data);
            if (i == 0) data.atoms = read_symbols(item.attr("get_chemical_symbols")());
        }
        return data;
    }

    throw py::type_error("Input must be a System, ASE Atoms, or List[Atoms]");
}

}  // namespace zelt::py_api
