#include "python/relax_options.hpp"

#include "python/errors.hpp"

namespace py = pybind11;

namespace zelt::py_api {

forcefield::UffOptimizer relax_settings(const RelaxOptions& options) {
    auto settings = options.settings();
    if (!settings) throw ValueError(settings.error().message);
    return *settings;
}

void flush_python_stdout() {
    try {
        const py::object out = py::module_::import("sys").attr("stdout");
        if (!out.is_none()) out.attr("flush")();
    } catch (const py::error_already_set&) {
        // A stream that cannot be flushed does not stop the relaxation.
    }
}

}  // namespace zelt::py_api
