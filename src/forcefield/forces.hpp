// Force evaluation: every atom's force and the energy terms of a system for
// a non-bonded cutoff, serially or on a worker pool.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/pool.hpp"
#include "core/result.hpp"
#include "forcefield/pair_grid.hpp"
#include "forcefield/system.hpp"

namespace zelt::forcefield {

// Systems at least this large go parallel when the thread count is automatic.
inline constexpr std::size_t parallel_threshold = 1000;
// The largest private pool an evaluation asks for.
inline constexpr std::uint64_t max_private_threads = 1024;

// Scratch arrays of the evaluation (per-piece force accumulators, the pair
// grid), kept between evaluations so that repeated evaluations of the same
// system allocate nothing.
struct ForceWorkspace {
    std::vector<std::vector<double>> pieces;  // 3 numbers per atom (or per grid slot)
    std::vector<double> piece_energy;
    // Where pieces ran: the pool's thread slot of each piece of the last
    // fold, and over all folds the distinct slots and the largest pool size.
    std::vector<int> piece_slot;
    std::vector<int> slots_seen;
    int pool_size_seen = 0;
    PairGrid grid;
    std::vector<double> listed;  // flat coordinates and force sums of listed pairs

    // Piece buffers: at least `count` of `numbers` entries each (not zeroed).
    void reserve_pieces(std::size_t count, std::size_t numbers);
    void note_slots(std::size_t count, int pool_size);
};

// Sets every force and returns the energies, on the calling thread alone.
EnergyTerms compute_forces_serial(System& system, double cutoff, ForceWorkspace& ws);
EnergyTerms compute_forces_serial(System& system, double cutoff);

// The same terms as parallel folds on the pool current for the calling
// thread (the process-wide pool unless called inside a private pool). Each
// piece accumulates into its own force array; the calling thread adds the
// combined arrays to the atoms after every phase. Equal to the serial result
// up to rounding.
EnergyTerms compute_forces_parallel(System& system, double cutoff, ForceWorkspace& ws);
EnergyTerms compute_forces_parallel(System& system, double cutoff);

// The parallel phases, each adding its pieces' forces to the atoms and
// returning its energy (the torsion phase includes the planarity restraints).
double compute_bond_forces_parallel(System& system, ForceWorkspace& ws);
double compute_angle_forces_parallel(System& system, ForceWorkspace& ws);
double compute_torsion_forces_parallel(System& system, ForceWorkspace& ws);
double compute_non_bonded_forces_parallel_cell_list(System& system, double cutoff, ForceWorkspace& ws);

// Builds the process-wide pool once per process: with `count`, or else with
// the thread-count variable (4 when unset or not an unsigned decimal number
// with an optional "+"); 0 means one thread per processor. Later calls, and
// calls after the pool exists, change nothing.
void init_parallelism(std::optional<std::uint64_t> count = std::nullopt);

// Runs the evaluations of one relaxation with a requested thread count:
// 0 automatic (serial below `parallel_threshold` atoms, else parallel on the
// process-wide pool), 1 serial, 2 or more parallel on a private pool of
// exactly that many threads, built once with the evaluator and reused by
// every evaluation.
class ForceEvaluator {
public:
    // Fails when a private pool of that size cannot be built.
    static Result<ForceEvaluator> create(std::uint64_t num_threads);

    EnergyTerms evaluate(System& system, double cutoff);

    std::uint64_t num_threads() const { return num_threads_; }
    // The private pool (num_threads >= 2), else nullptr.
    pool::PrivatePool* private_pool() const { return private_.get(); }
    // The thread slots of the pools that computed parallel pieces so far
    // (distinct, in order of first use; empty when every evaluation was
    // serial), and the largest such pool.
    const std::vector<int>& slots_seen() const { return ws_.slots_seen; }
    int pool_size_seen() const { return ws_.pool_size_seen; }

private:
    explicit ForceEvaluator(std::uint64_t n) : num_threads_(n) {}
    std::uint64_t num_threads_;
    std::unique_ptr<pool::PrivatePool> private_;
    ForceWorkspace ws_;
};

// One evaluation with the path chosen by `num_threads` as above (a private
// pool is built for this call alone).
Result<EnergyTerms> compute_forces_with_threads(System& system, std::uint64_t num_threads, double cutoff);

}  // namespace zelt::forcefield
