// Module initialisation: the worker pool first, then the classes, the version
// attribute and the module functions, in that order.
#include <pybind11/pybind11.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "core/pool.hpp"
#include "python/analysis.hpp"
#include "python/builder.hpp"
#include "python/errors.hpp"
#include "python/molecule.hpp"
#include "python/signatures.hpp"
#include "python/system.hpp"
#include "python/system_exchange.hpp"
#include "python/system_geometry.hpp"
#include "python/system_relax.hpp"

namespace py = pybind11;
using namespace zelt;

namespace {

// Distinct threads that took part in one parallel loop of the process-wide
// pool. Each piece holds its thread until as many threads as the pool is
// configured for have shown up (or three seconds have passed), so a slow
// worker start cannot hide a thread and a smaller pool shows as a smaller count.
std::size_t observed_pool_threads() {
    std::mutex m;
    std::set<std::thread::id> ids;
    const std::size_t expected = pool::global_thread_count();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    const std::size_t pieces = 4 * expected;
    pool::for_chunks(pieces, pieces, [&](std::size_t, std::size_t, std::size_t) {
        {
            std::lock_guard lock(m);
            ids.insert(std::this_thread::get_id());
        }
        for (;;) {
            {
                std::lock_guard lock(m);
                if (ids.size() >= expected) return;
            }
            if (std::chrono::steady_clock::now() > deadline) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    return ids.size();
}

}  // namespace

PYBIND11_MODULE(zelt, m) {
    pool::init_at_import();

    py::options options;
    options.disable_function_signatures();
    py_api::register_exception_translators();

    // Classes, in this order: Builder, System (with the methods that other
    // files add to it), Molecule.
    py_api::bind_builder(m);
    auto system = py_api::bind_system(m);
    py_api::bind_system_exchange(system);
    py_api::bind_system_relax(system);
    py_api::bind_system_geometry(system);
    (void)system;
    py_api::bind_molecule(m);

    m.attr("__version__") = "0.9.0";

    // Module functions, in this order: compute_rdf, compute_msd, build_system,
    // from_ase, from_rdkit.
    py_api::bind_analysis(m);
    py_api::bind_build_system(m);
    py_api::bind_exchange_functions(m);

    // For tests: the configured size of the process-wide pool and the number
    // of distinct threads a parallel loop on it actually used.
    m.def("_pool_threads", [] { return pool::global_thread_count(); });
    m.def("_pool_observed_threads", &observed_pool_threads);

    py_api::expose_method_signatures(m);
}
