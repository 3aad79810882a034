#include "python/system_relax.hpp"

#include "build/relax.hpp"
#include "python/errors.hpp"
#include "python/relax_options.hpp"

namespace zelt::py_api {

namespace {

// Relaxes a working copy (the optimizer's report, when asked, goes to the
// process's standard output), unwraps it, and only then replaces the
// object's atoms; bonds and cell stay. A failure leaves the object as it was.
void relax(PySystem& self, const RelaxOptions& options) {
    const forcefield::UffOptimizer settings = relax_settings(options);
    ExclusiveBorrow borrow(self.borrow);
    if (settings.verbose) flush_python_stdout();
    auto atoms = relax_system_copy(self.atoms, self.bonds, self.cell, settings);
    if (!atoms) raise_core("Relaxation failed: ", atoms.error());
    self.atoms = std::move(*atoms);
}

}  // namespace

void bind_system_relax(pybind11::class_<PySystem>& cls) { def_relax(cls, &relax); }

}  // namespace zelt::py_api
