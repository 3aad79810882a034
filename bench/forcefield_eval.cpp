// Times single force evaluations of a periodic system read from MOL2.
//
// Usage: bench_forcefield_eval FILE.mol2 REPEATS NUM_THREADS [CUTOFF]
// Prints one line: atoms, seconds per evaluation (best of REPEATS after one
// warm-up), and the total energy. NUM_THREADS as for relax: 0 automatic
// (the process-wide pool from 1000 atoms on), 1 serial, >= 2 a private pool.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "build/relax.hpp"
#include "forcefield/forces.hpp"
#include "io/mol2.hpp"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s FILE.mol2 REPEATS NUM_THREADS [CUTOFF]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    auto system = zelt::parse_mol2_as_system(text.str());
    if (!system) {
        std::fprintf(stderr, "%s\n", system.error().message.c_str());
        return 1;
    }
    auto engine = zelt::as_periodic_uff_system(*system);
    if (!engine) {
        std::fprintf(stderr, "%s\n", engine.error().message.c_str());
        return 1;
    }
    const int repeats = std::max(1, std::atoi(argv[2]));
    const std::uint64_t threads = std::strtoull(argv[3], nullptr, 10);
    const double cutoff = argc > 4 ? std::atof(argv[4]) : 6.0;
    auto evaluator = zelt::forcefield::ForceEvaluator::create(threads);
    if (!evaluator) {
        std::fprintf(stderr, "%s\n", evaluator.error().message.c_str());
        return 1;
    }
    double energy = evaluator->evaluate(*engine, cutoff).total;  // warm-up: pool threads, buffers
    double best = 1e300;
    for (int k = 0; k < repeats; ++k) {
        const auto t0 = std::chrono::steady_clock::now();
        energy = evaluator->evaluate(*engine, cutoff).total;
        const double dt = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, dt);
    }
    std::printf("%zu %.9f %.6f\n", engine->atoms().size(), best, energy);
    return 0;
}
