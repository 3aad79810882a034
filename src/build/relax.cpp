#include "build/relax.hpp"

#include <cmath>

#include <fmt/format.h>

#include "core/elements.hpp"
#include "core/geometry.hpp"

namespace zelt {

namespace {

namespace ff = forcefield;

Result<ff::System> to_engine(const std::vector<Atom>& atoms, const std::vector<Bond>& bonds, const ff::UnitCell& cell) {
    std::vector<ff::Atom> engine_atoms;
    engine_atoms.reserve(atoms.size());
    for (const Atom& a : atoms) engine_atoms.push_back(ff::Atom::make(atomic_number(a.element), a.position));
    std::vector<ff::Bond> engine_bonds;
    engine_bonds.reserve(bonds.size());
    for (const Bond& b : bonds) engine_bonds.push_back({b.i, b.j, static_cast<float>(b.order)});
    return ff::System::create(std::move(engine_atoms), std::move(engine_bonds), cell);
}

void copy_positions(const ff::System& engine, std::vector<Atom>& atoms) {
    const auto relaxed = engine.atoms();
    for (std::size_t i = 0; i < atoms.size(); ++i) atoms[i].position = relaxed[i].position;
}

ff::UffOptimizer quiet(std::uint64_t steps, double threshold) {
    ff::UffOptimizer o;
    o.max_iterations = steps;
    o.threshold = threshold;
    o.num_threads = 0;
    o.cutoff = 6.0;
    o.history_size = 10;
    o.verbose = false;
    return o;
}

}  // namespace

Result<forcefield::UffOptimizer> RelaxOptions::settings() const {
    if (!(cutoff > 0.0 && std::isfinite(cutoff)))
        return fail(fmt::format("cutoff must be a positive finite number of Å, got {}", cutoff));
    forcefield::UffOptimizer o;
    o.max_iterations = steps.value_or(1000);
    o.threshold = threshold.value_or(1.0);
    o.verbose = verbose;
    o.num_threads = num_threads;
    o.cutoff = cutoff;
    o.history_size = history_size;
    return o;
}

forcefield::UffOptimizer smiles_relax_settings() { return quiet(500, 0.1); }
forcefield::UffOptimizer packing_relax_settings() { return quiet(200, 1.0); }

Result<forcefield::System> as_uff_system(const MoleculeTemplate& tmpl) {
    return to_engine(tmpl.atoms, tmpl.bonds, ff::UnitCell::non_periodic());
}

Result<forcefield::System> as_periodic_uff_system(const System& system) {
    // The core cell's rows a, b, c are the engine's nine numbers in order.
    ff::Matrix3 h;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) h.m[3 * r + c] = system.cell[r][c];
    return to_engine(system.atoms, system.bonds, ff::UnitCell::new_triclinic(h));
}

Status minimize(System& system, const forcefield::UffOptimizer& settings) {
    if (system.atoms.empty()) return Ok{};
    auto engine = as_periodic_uff_system(system);
    if (!engine) return engine.error();
    if (auto st = settings.optimize(*engine); !st) return st;
    copy_positions(*engine, system.atoms);
    return Ok{};
}

Status relax_template(MoleculeTemplate& tmpl, const forcefield::UffOptimizer& settings) {
    if (tmpl.atoms.empty()) return Ok{};
    auto engine = as_uff_system(tmpl);
    if (!engine) return engine.error();
    if (auto st = settings.optimize(*engine); !st) return st;
    copy_positions(*engine, tmpl.atoms);
    return Ok{};
}

Result<std::vector<Atom>> relax_system_copy(const std::vector<Atom>& atoms, const std::vector<Bond>& bonds,
                                            const Mat3& cell, const forcefield::UffOptimizer& settings) {
    System work = System::from_cell(cell);
    work.atoms = atoms;
    work.bonds = bonds;
    if (auto st = minimize(work, settings); !st) return st.error();
    if (auto st = unwrap(work); !st) return st.error();
    return std::move(work.atoms);
}

Status relax_system_in_place(System& system, const forcefield::UffOptimizer& settings) {
    if (auto st = minimize(system, settings); !st) return st;
    return unwrap(system);
}

Status relax_molecule_template(MoleculeTemplate& tmpl, const forcefield::UffOptimizer& settings) {
    System work = System::from_cell(cubic_cell(50.0));
    work.atoms = tmpl.atoms;
    for (std::size_t i = 0; i < work.atoms.size(); ++i) work.atoms[i].index = i;
    work.bonds = tmpl.bonds;
    if (auto st = minimize(work, settings); !st) return st;
    tmpl.atoms = std::move(work.atoms);
    return Ok{};
}

}  // namespace zelt
