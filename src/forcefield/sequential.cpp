// The serial path of force evaluation: every phase on the calling thread.
#include <algorithm>

#include "forcefield/forces.hpp"
#include "forcefield/pair_list.hpp"
#include "forcefield/phases.hpp"

namespace zelt::forcefield {

EnergyTerms compute_forces_serial(System& system, double cutoff, ForceWorkspace& ws) {
    const Topology& t = system.topology();
    const std::size_t n = system.atoms().size();
    for (Atom& a : system.atoms()) a.force = {0.0, 0.0, 0.0};

    ws.reserve_pieces(1, 3 * n);
    double* f = ws.pieces[0].data();
    std::fill(f, f + 3 * n, 0.0);

    EnergyTerms e;
    e.bond = detail::bond_range(system, 0, t.bonds.size(), f);
    e.angle = detail::angle_range(system, 0, t.angles.size(), f);
    e.torsion = detail::torsion_range(system, 0, t.torsions.size(), f);
    e.torsion += detail::planarity_range(system, 0, t.planar.size(), f);
    if (t.pairs_listed) {
        e.vdw = detail::listed_pair_range(system, cutoff, f, ws.listed);
        detail::add_to_atoms(system, f);
        e.total = e.bond + e.angle + e.torsion + e.vdw;
        return e;
    }
    detail::add_to_atoms(system, f);

    // Non-bonded forces accumulate per grid slot (there are at most n slots).
    ws.grid.build(system.atoms(), t.lj_members, system.cell(), cutoff);
    const std::size_t slots = ws.grid.size();
    std::fill(f, f + 3 * slots, 0.0);
    e.vdw = detail::non_bonded_range(system, ws.grid, cutoff, 0, slots, f);
    detail::add_slot_forces(system, ws.grid, f);

    e.total = e.bond + e.angle + e.torsion + e.vdw;
    return e;
}

EnergyTerms compute_forces_serial(System& system, double cutoff) {
    ForceWorkspace ws;
    return compute_forces_serial(system, cutoff, ws);
}

}  // namespace zelt::forcefield
