// The choice between the serial and the parallel path, the private pools of
// explicit thread counts, and the set-up of the process-wide pool.
#include "forcefield/forces.hpp"

#include <algorithm>
#include <exception>

#include <fmt/format.h>

namespace zelt::forcefield {

void ForceWorkspace::reserve_pieces(std::size_t count, std::size_t numbers) {
    if (pieces.size() < count) pieces.resize(count);
    for (std::size_t c = 0; c < count; ++c)
        if (pieces[c].size() < numbers) pieces[c].resize(numbers);
}

void ForceWorkspace::note_slots(std::size_t count, int pool_size) {
    pool_size_seen = std::max(pool_size_seen, pool_size);
    for (std::size_t c = 0; c < count; ++c) {
        const int slot = piece_slot[c];
        if (std::find(slots_seen.begin(), slots_seen.end(), slot) == slots_seen.end()) slots_seen.push_back(slot);
    }
}

void init_parallelism(std::optional<std::uint64_t> count) { pool::init_parallelism(count); }

Result<ForceEvaluator> ForceEvaluator::create(std::uint64_t num_threads) {
    ForceEvaluator ev(num_threads);
    if (num_threads >= 2) {
        if (num_threads > max_private_threads)
            return fail(fmt::format("Cannot build a worker pool of {} threads (at most {})", num_threads,
                                    max_private_threads));
        try {
            ev.private_ = std::make_unique<pool::PrivatePool>(static_cast<std::size_t>(num_threads));
        } catch (const std::exception& e) {
            return fail(fmt::format("Cannot build a worker pool of {} threads: {}", num_threads, e.what()));
        }
    }
    return ev;
}

EnergyTerms ForceEvaluator::evaluate(System& system, double cutoff) {
    if (private_) {
        EnergyTerms e;
        private_->run([&] { e = compute_forces_parallel(system, cutoff, ws_); });
        return e;
    }
    if (num_threads_ == 0 && system.atoms().size() >= parallel_threshold) {
        init_parallelism();
        return compute_forces_parallel(system, cutoff, ws_);
    }
    return compute_forces_serial(system, cutoff, ws_);
}

Result<EnergyTerms> compute_forces_with_threads(System& system, std::uint64_t num_threads, double cutoff) {
    auto ev = ForceEvaluator::create(num_threads);
    if (!ev) return ev.error();
    return ev->evaluate(system, cutoff);
}

}  // namespace zelt::forcefield
