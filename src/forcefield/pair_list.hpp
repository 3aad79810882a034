// The non-bonded term of a small system without periodicity along the rows
// of its pair wells (see Topology::listed_row): every member against every
// later member, four partners at a time where the processor allows. Each
// pair's energy and force are those of lj_factor, bit for bit; only the
// order in which they are summed differs from pair-by-pair evaluation.
#pragma once

#include <cstddef>
#include <vector>

#include "forcefield/system.hpp"

namespace zelt::forcefield::detail {

// lj_factor of n pairs, each within the cutoff and farther than 1e-3 Å
// apart: squared distance r2[k] and well (x[k], d[k]) in; energy[k] and
// factor[k] out. `cutoff` is the cutoff's magnitude.
void lj_block(std::size_t n, const double* r2, const double* x, const double* d, double cutoff, double* energy,
              double* factor);

// The same kernel without vector instructions (the reference of the tests).
void lj_block_scalar(std::size_t n, const double* r2, const double* x, const double* d, double cutoff,
                     double* energy, double* factor);

// Adds the listed pairs' forces into `f` (three numbers per atom) and
// returns their energy: the same pairs and terms as the grid's loop.
// `scratch` is working space kept by the caller between evaluations.
// `vector` false takes the path without vector instructions.
double listed_pair_range(const System& s, double cutoff, double* f, std::vector<double>& scratch,
                         bool vector = true);

}  // namespace zelt::forcefield::detail
