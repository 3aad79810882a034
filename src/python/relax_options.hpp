// The option set shared by every `relax` method (System, Molecule, Builder):
// argument conversion, defaults, the signature text and the checks made
// before anything runs.
#pragma once

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <optional>
#include <utility>

#include "build/relax.hpp"
#include "forcefield/optimizer.hpp"

namespace zelt::py_api {

inline constexpr const char* relax_signature =
    "relax(self, steps=None, threshold=None, verbose=True, num_threads=0, cutoff=6.0, history_size=10)\n--\n\n";

// The optimizer settings of the options; ValueError for a cutoff that is not
// a positive finite number.
forcefield::UffOptimizer relax_settings(const RelaxOptions& options);

// Flushes Python's sys.stdout, so that the report, which is written to the
// process's standard output directly, follows what Python printed before.
void flush_python_stdout();

// Registers `relax` on `cls`: `body(self, options)` does the work. Integers
// must be non-negative, `verbose` a bool (None refused), `steps` and
// `threshold` may be None; the method returns None.
template <class Self, class Body>
void def_relax(pybind11::class_<Self>& cls, Body body) {
    namespace py = pybind11;
    cls.def(
        "relax",
        [body](Self& self, std::optional<std::uint64_t> steps, std::optional<double> threshold, bool verbose,
               std::uint64_t num_threads, double cutoff, std::uint64_t history_size) {
            body(self, RelaxOptions{steps, threshold, verbose, num_threads, cutoff, history_size});
        },
        py::arg("steps") = py::none(), py::arg("threshold") = py::none(), py::arg("verbose").noconvert() = true,
        py::arg("num_threads") = 0, py::arg("cutoff") = 6.0, py::arg("history_size") = 10, relax_signature);
}

}  // namespace zelt::py_api
