// Relaxation of an engine system towards a local energy minimum: damped
// inertial dynamics in the manner of FIRE, with per-atom velocity mixing,
// stopped by convergence tests averaged over a window of recent iterations.
#pragma once

#include <cstdint>

#include "core/result.hpp"
#include "forcefield/forces.hpp"
#include "forcefield/system.hpp"

namespace zelt::forcefield {

struct UffOptimizer {
    std::uint64_t max_iterations = 1000;  // force evaluations inside the loop
    double threshold = 1.0;               // kcal/mol/Å, for the convergence tests
    std::uint64_t num_threads = 0;        // 0 automatic, 1 serial, >= 2 a private pool
    double cutoff = 6.0;                  // non-bonded cutoff, Å
    std::uint64_t history_size = 10;      // window of the convergence tests
    bool verbose = false;                 // print the progress report to standard output

    // Moves the atoms in place; afterwards the forces are those of the last
    // evaluation. The run's evaluations share one evaluator (and so one
    // private pool). Fails only when the private pool cannot be built.
    Status optimize(System& system) const;

    // The same with an evaluator of the caller's (its thread count is used;
    // `num_threads` is then only printed).
    void optimize(System& system, ForceEvaluator& evaluator) const;
};

}  // namespace zelt::forcefield
