// The parallel path of force evaluation: each phase is a fold over its range
// on the current pool, every piece accumulating into a private force array;
// the calling thread adds the pieces' arrays to the atoms after the phase.
#include <algorithm>

#include <oneapi/tbb/task_arena.h>

#include "forcefield/forces.hpp"
#include "forcefield/phases.hpp"

namespace zelt::forcefield {

namespace {

// Bonded terms are cheap: a piece gets at least this many of them.
constexpr std::size_t min_bonded_piece = 2048;

std::size_t bonded_pieces(std::size_t terms) {
    const std::size_t by_work = (terms + min_bonded_piece - 1) / min_bonded_piece;
    return std::clamp<std::size_t>(by_work, 1, pool::current_thread_count());
}

// Runs body(begin, end, f) over `pieces` pieces of [0, items), piece c with
// its own zeroed array ws.pieces[first + c] of `numbers` entries. Returns
// the pieces' energies added in piece order.
template <class Body>
double fold(ForceWorkspace& ws, std::size_t first, std::size_t items, std::size_t pieces, std::size_t numbers,
            Body&& body) {
    ws.reserve_pieces(first + pieces, numbers);
    ws.piece_energy.assign(pieces, 0.0);
    ws.piece_slot.assign(pieces, -1);
    pool::for_chunks(items, pieces, [&](std::size_t c, std::size_t b, std::size_t e) {
        double* f = ws.pieces[first + c].data();
        std::fill(f, f + numbers, 0.0);
        ws.piece_energy[c] = body(b, e, f);
        ws.piece_slot[c] = tbb::this_task_arena::current_thread_index();
    });
    ws.note_slots(pieces, tbb::this_task_arena::max_concurrency());
    double energy = 0.0;
    for (std::size_t c = 0; c < pieces; ++c) energy += ws.piece_energy[c];
    return energy;
}

std::size_t pieces_for(std::size_t terms) { return terms == 0 ? 0 : std::min(bonded_pieces(terms), terms); }

template <class Range>
double bonded_fold(System& system, ForceWorkspace& ws, std::size_t first, std::size_t terms, Range&& range) {
    if (terms == 0) return 0.0;
    return fold(ws, first, terms, pieces_for(terms), 3 * system.atoms().size(),
                [&](std::size_t b, std::size_t e, double* f) { return range(system, b, e, f); });
}

void add_pieces(System& system, ForceWorkspace& ws, std::size_t count) {
    for (std::size_t c = 0; c < count; ++c) detail::add_to_atoms(system, ws.pieces[c].data());
}

}  // namespace

double compute_bond_forces_parallel(System& system, ForceWorkspace& ws) {
    const std::size_t terms = system.topology().bonds.size();
    const double energy = bonded_fold(system, ws, 0, terms, detail::bond_range);
    add_pieces(system, ws, pieces_for(terms));
    return energy;
}

double compute_angle_forces_parallel(System& system, ForceWorkspace& ws) {
    const std::size_t terms = system.topology().angles.size();
    const double energy = bonded_fold(system, ws, 0, terms, detail::angle_range);
    add_pieces(system, ws, pieces_for(terms));
    return energy;
}

double compute_torsion_forces_parallel(System& system, ForceWorkspace& ws) {
    // Torsions, then planarity restraints in the pieces after the torsions';
    // both reach the atoms together.
    const std::size_t nt = system.topology().torsions.size();
    const std::size_t np = system.topology().planar.size();
    const double torsion = bonded_fold(system, ws, 0, nt, detail::torsion_range);
    const double planarity = bonded_fold(system, ws, pieces_for(nt), np, detail::planarity_range);
    add_pieces(system, ws, pieces_for(nt) + pieces_for(np));
    return torsion + planarity;
}

double compute_non_bonded_forces_parallel_cell_list(System& system, double cutoff, ForceWorkspace& ws) {
    ws.grid.build(system.atoms(), system.topology().lj_members, system.cell(), cutoff);
    const std::size_t slots = ws.grid.size();
    if (slots == 0) return 0.0;
    const std::size_t pieces = std::min(slots, 2 * pool::current_thread_count());
    const double energy = fold(ws, 0, slots, pieces, 3 * slots, [&](std::size_t b, std::size_t e, double* f) {
        return detail::non_bonded_range(system, ws.grid, cutoff, b, e, f);
    });
    for (std::size_t c = 0; c < pieces; ++c) detail::add_slot_forces(system, ws.grid, ws.pieces[c].data());
    return energy;
}

EnergyTerms compute_forces_parallel(System& system, double cutoff, ForceWorkspace& ws) {
    EnergyTerms e;
    pool::run([&] {
        for (Atom& a : system.atoms()) a.force = {0.0, 0.0, 0.0};
        e.bond = compute_bond_forces_parallel(system, ws);
        e.angle = compute_angle_forces_parallel(system, ws);
        e.torsion = compute_torsion_forces_parallel(system, ws);
        e.vdw = compute_non_bonded_forces_parallel_cell_list(system, cutoff, ws);
    });
    e.total = e.bond + e.angle + e.torsion + e.vdw;
    return e;
}

EnergyTerms compute_forces_parallel(System& system, double cutoff) {
    ForceWorkspace ws;
    return compute_forces_parallel(system, cutoff, ws);
}

}  // namespace zelt::forcefield
