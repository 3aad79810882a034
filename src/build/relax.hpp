// The relaxation driver: the bridge between the core records and the
// force-field engine, and the flows behind every `relax` method.
//
// The engine never sees core records. Atoms cross as element (atomic number
// from the element table, 0 when unknown) and position; bonds as their two
// indices and their order rounded to single precision. Only positions come
// back; the engine's type labels, energies and forces are discarded.
//
// Callers:
// - System.relax: `relax_system_copy` (works on a copy, unwraps, returns the atoms).
// - Builder.relax: `relax_system_in_place` (the builder's own system, unwrapped).
// - Molecule.relax: `relax_molecule_template` (inside a 50 Å cube, indices renumbered).
// - The SMILES and packing builders: `relax_template` with their fixed
//   settings (`smiles_relax_settings`, `packing_relax_settings`), or
//   `as_uff_system` and `UffOptimizer::optimize` directly.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/records.hpp"
#include "core/result.hpp"
#include "forcefield/optimizer.hpp"
#include "forcefield/system.hpp"

namespace zelt {

// The option set of the three Python `relax` methods, with their defaults.
struct RelaxOptions {
    std::optional<std::uint64_t> steps;  // None: 1000
    std::optional<double> threshold;     // None: 1.0 kcal/mol/Å
    bool verbose = true;
    std::uint64_t num_threads = 0;  // 0 automatic, 1 serial, >= 2 a private pool
    double cutoff = 6.0;            // Å
    std::uint64_t history_size = 10;

    // The optimizer these options describe. Fails, before anything runs, for
    // a cutoff that is not a positive finite number (a zero, negative or
    // not-a-number cutoff can only give a wrong result). Thresholds <= 0 and
    // a history size of 0 are accepted (they only change when a run stops).
    Result<forcefield::UffOptimizer> settings() const;
};

// The fixed settings of the internal callers (report off, automatic threads, 6 Å).
forcefield::UffOptimizer smiles_relax_settings();   // 500 steps, threshold 0.1
forcefield::UffOptimizer packing_relax_settings();  // 200 steps, threshold 1.0

// An engine system with the template's atoms and bonds and no periodicity.
// Fails when a bond names an atom the template does not have.
Result<forcefield::System> as_uff_system(const MoleculeTemplate& tmpl);

// An engine system with the system's atoms and bonds, periodic along the
// three cell vectors (the cell's nine numbers copied in order). Fails when a
// bond names an atom the system does not have.
Result<forcefield::System> as_periodic_uff_system(const System& system);

// Relaxes `system` in place, periodic along its three cell vectors; only
// atom positions change, and only once the optimizer has finished. An empty
// system is left alone (no report). Fails, changing nothing, when a bond
// names an atom the system does not have or a private pool cannot be built.
Status minimize(System& system, const forcefield::UffOptimizer& settings);

// Relaxes a template without periodicity and writes the new positions back.
Status relax_template(MoleculeTemplate& tmpl, const forcefield::UffOptimizer& settings);

// System.relax: a working copy (the cell with its inverse recomputed, the
// atoms and bonds) is relaxed and unwrapped; its atoms are returned for the
// caller to store. Bonds and cell stay the caller's.
Result<std::vector<Atom>> relax_system_copy(const std::vector<Atom>& atoms, const std::vector<Bond>& bonds,
                                            const Mat3& cell, const forcefield::UffOptimizer& settings);

// Builder.relax: the system itself is relaxed and unwrapped.
Status relax_system_in_place(System& system, const forcefield::UffOptimizer& settings);

// Molecule.relax: the template's atoms, renumbered 0, 1, 2, … in their
// `index` fields, are relaxed in a periodic cube of 50 Å edge (atoms more
// than 25 Å apart along an axis see each other's nearest images) without
// unwrapping; the template's atoms are replaced, its bonds kept.
Status relax_molecule_template(MoleculeTemplate& tmpl, const forcefield::UffOptimizer& settings);

}  // namespace zelt
