// The loops of force evaluation over ranges of terms, shared by the serial
// and the parallel path. Each adds the forces of its terms into `f` (three
// numbers per atom, or per grid slot for the non-bonded loop) and returns
// the sum of their energies.
#pragma once

#include <cstddef>

#include "forcefield/pair_grid.hpp"
#include "forcefield/system.hpp"

namespace zelt::forcefield::detail {

double bond_range(const System& s, std::size_t begin, std::size_t end, double* f);
double angle_range(const System& s, std::size_t begin, std::size_t end, double* f);
double torsion_range(const System& s, std::size_t begin, std::size_t end, double* f);
double planarity_range(const System& s, std::size_t begin, std::size_t end, double* f);

// Pairs whose first slot lies in [begin, end) of a grid built from the
// system's non-bonded members with the same cutoff.
double non_bonded_range(const System& s, const PairGrid& grid, double cutoff, std::size_t begin, std::size_t end,
                        double* f);

// Adds a per-slot force array of the grid to the atoms' forces.
void add_slot_forces(System& s, const PairGrid& grid, const double* slot_f);

// Adds a per-atom force array to the atoms' forces.
void add_to_atoms(System& s, const double* f);

}  // namespace zelt::forcefield::detail
